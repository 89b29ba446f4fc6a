// The wrappers' failure table, the check-point rule, control dispatch and
// the event-log record shape.
#include "service/tw_service_base.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "fakes/fake_platform.h"
#include "platform/system_error.h"

namespace vt::service {
namespace {

using namespace platform;
using fakes::FakePlatform;
using ::testing::ElementsAre;

// A hook that throws an error code, throws something else, or does nothing.
enum class Fault { None, Code, Other };

class HookService : public TWServiceBase {
  public:
    explicit HookService(FakePlatform& fp)
        : TWServiceBase(L"VTService", fp.serviceHost, fp.eventLog) {}
    Fault start = Fault::None, stop = Fault::None, shutdown = Fault::None;
    uint32_t code = 5;
    int stops = 0;
    int shutdowns = 0;
    std::function<void()> duringStart;

  protected:
    void Raise(Fault f) {
        if (f == Fault::Code) {
            throw SystemError(code);
        }
        if (f == Fault::Other) {
            throw std::runtime_error("not an error code");
        }
    }
    void OnStart(uint32_t, wchar_t**) override {
        if (duringStart) {
            duringStart();
        }
        Raise(start);
    }
    void OnStop() override {
        ++stops;
        Raise(stop);
    }
    void OnShutdown() override {
        ++shutdowns;
        Raise(shutdown);
    }
};

struct Report {
    uint32_t state, exitCode, checkPoint;
    bool operator==(const Report&) const = default;
};
void PrintTo(const Report& r, std::ostream* os) {
    *os << "{state " << r.state << ", exit " << r.exitCode << ", cp " << r.checkPoint << "}";
}

std::vector<Report> Reports(FakePlatform& fp) {
    std::vector<Report> out;
    for (const auto& s : fp.serviceHost.reports()) {
        out.push_back({s.currentState, s.win32ExitCode, s.checkPoint});
    }
    return out;
}

class ServiceBaseTest : public ::testing::Test {
  protected:
    void SetUp() override { TWServiceBase::s_current = &service; }
    void TearDown() override { TWServiceBase::s_current = nullptr; }
    FakePlatform fp;
    HookService service{fp};
};

// Pending states take the next check point, the counter runs on across
// pause cycles and paused takes one too; running and stopped report zero.
TEST_F(ServiceBaseTest, CheckPointCounterRunsOnAcrossPauseCyclesAndPausedTakesOne) {
    service.Start(0, nullptr);
    service.Pause();
    service.Continue();
    service.Stop();
    EXPECT_THAT(Reports(fp),
                ElementsAre(Report{kServiceStartPending, 0, 1}, Report{kServiceRunning, 0, 0},
                            Report{kServicePausePending, 0, 2}, Report{kServicePaused, 0, 3},
                            Report{kServiceContinuePending, 0, 4}, Report{kServiceRunning, 0, 0},
                            Report{kServiceStopPending, 0, 5}, Report{kServiceStopped, 0, 0}));
    // Controls accepted never follow the state: pause is never offered.
    for (const auto& s : fp.serviceHost.reports()) {
        EXPECT_EQ(s.serviceType, kServiceWin32OwnProcess);
        EXPECT_EQ(s.controlsAccepted, 5u);
        EXPECT_EQ(s.waitHint, 0u);
    }
}

// A hook that throws an error code is logged with it (a failed start's
// code is also its exit code), anything else with a line of its own; a
// failed start reports stopped, a failed stop goes back to the state it
// found, a failed shutdown reports nothing.
TEST(ServiceBaseFaults, AFailingHookIsLoggedAndLeavesTheStateItsControlSays) {
    using H = HookService;
    using F = Fault;
    struct Case {
        Fault H::*hook;
        Fault fault;
        const wchar_t* message;
        uint32_t state, exitCode;
        size_t reports;
    };
    const Case cases[] = {
        {&H::start, F::Code, L"Service Start failed w/err 0x00000005", kServiceStopped, 5, 2},
        {&H::start, F::Other, L"Service failed to start.", kServiceStopped, 0, 2},
        {&H::stop, F::Code, L"Service Stop failed w/err 0x00000005", kServiceRunning, 0, 4},
        {&H::stop, F::Other, L"Service failed to stop.", kServiceRunning, 0, 4},
        {&H::shutdown, F::Code, L"Service Shutdown failed w/err 0x00000005", kServiceRunning, 0, 2},
        {&H::shutdown, F::Other, L"Service failed to shut down.", kServiceRunning, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        FakePlatform fp;
        HookService service(fp);
        service.*c.hook = c.fault;
        service.Start(0, nullptr);
        if (c.hook == &H::stop) {
            service.Stop();
        } else if (c.hook == &H::shutdown) {
            service.Shutdown();
        }
        EXPECT_THAT(fp.eventLog.messages(), ElementsAre(c.message));
        EXPECT_EQ(fp.eventLog.records().at(0).type, EventType::Error);
        EXPECT_EQ(Reports(fp).size(), c.reports);
        EXPECT_EQ(Reports(fp).back(), (Report{c.state, c.exitCode, 0}));
    }
}

TEST_F(ServiceBaseTest, ControlHandlerActsOnStopAndShutdownAndIgnoresInterrogateAndUnknown) {
    service.Start(0, nullptr);
    const size_t before = Reports(fp).size();
    for (uint32_t control : {kServiceControlInterrogate, 0u, 6u, 0xFFFFFFFFu}) {
        TWServiceBase::ControlHandler(control);
    }
    EXPECT_EQ(Reports(fp).size(), before);
    EXPECT_EQ(service.stops, 0);

    TWServiceBase::ControlHandler(kServiceControlStop);
    EXPECT_EQ(service.stops, 1);
    EXPECT_EQ(Reports(fp).back().state, kServiceStopped);
}

// The dispatcher delivers controls while OnStart still runs: a stop or a
// shutdown waits for the start's report and runs after it, once, so the
// manager never sees RUNNING after STOPPED; after a failed start there is
// nothing left to end.
TEST_F(ServiceBaseTest, AStopOrShutdownDuringTheStartRunsOnceTheStartHasReported) {
    struct Case {
        std::vector<uint32_t> controls;
        Fault start;
        std::vector<uint32_t> states;
        int stops, shutdowns;
    };
    const Case cases[] = {
        {{kServiceControlStop},
         Fault::None,
         {kServiceStartPending, kServiceRunning, kServiceStopPending, kServiceStopped},
         1,
         0},
        {{kServiceControlShutdown, kServiceControlStop},
         Fault::None,
         {kServiceStartPending, kServiceRunning, kServiceStopped},
         0,
         1},
        {{kServiceControlStop}, Fault::Code, {kServiceStartPending, kServiceStopped}, 0, 0},
    };
    for (const Case& c : cases) {
        FakePlatform local;
        HookService racing(local);
        TWServiceBase::s_current = &racing;
        racing.start = c.start;
        racing.duringStart = [&c] {
            std::thread dispatcher([&c] {
                for (uint32_t control : c.controls) {
                    TWServiceBase::ControlHandler(control);
                }
            });
            dispatcher.join();
        };
        TWServiceBase::ServiceMain(0, nullptr);
        std::vector<uint32_t> states;
        for (const Report& r : Reports(local)) {
            states.push_back(r.state);
        }
        EXPECT_EQ(states, c.states) << c.controls.size() << " controls";
        EXPECT_EQ(racing.stops, c.stops);
        EXPECT_EQ(racing.shutdowns, c.shutdowns);
    }
}

TEST_F(ServiceBaseTest, ServiceMainRegistersUnderTheNameAndReportsThroughTheHandle) {
    TWServiceBase::ServiceMain(0, nullptr);
    EXPECT_EQ(fp.serviceHost.registeredName, L"VTService");
    ASSERT_FALSE(fp.serviceHost.handles.empty());
    for (auto h : fp.serviceHost.handles) {
        EXPECT_EQ(h, fakes::FakeServiceHost::kHandle);
    }
}

TEST_F(ServiceBaseTest, ServiceMainWithoutAHandlerNeverStarts) {
    fp.serviceHost.registerError = 1063;
    TWServiceBase::ServiceMain(0, nullptr);
    EXPECT_TRUE(Reports(fp).empty());
    EXPECT_THAT(fp.eventLog.messages(),
                ElementsAre(L"RegisterServiceCtrlHandler failed w/err 0x00000427"));
}

TEST_F(ServiceBaseTest, EveryEntryHasTheFixedShape) {
    service.LogEvent(L"hello", EventType::Information);
    service.LogEvent(L"careful", EventType::Warning);
    service.LogError(L"Thing", 0xDEADBEEF);
    const auto records = fp.eventLog.records();
    ASSERT_EQ(records.size(), 3u);
    for (const auto& r : records) {
        EXPECT_EQ(r.source, L"VTService");
        EXPECT_EQ(r.category, 0);
        EXPECT_EQ(r.eventId, 0u);
        ASSERT_EQ(r.strings.size(), 2u);
        EXPECT_EQ(r.strings[0], L"VTService");
    }
    EXPECT_EQ(static_cast<int>(records[0].type), 4);
    EXPECT_EQ(static_cast<int>(records[1].type), 2);
    EXPECT_EQ(static_cast<int>(records[2].type), 1);
}

// " failed w/err 0x00000001" is 24 characters: in the buffer of 260,
// 235 + 24 just fits, one more loses the last digit of the code.
TEST_F(ServiceBaseTest, LogErrorIsCutToItsBuffer) {
    service.LogError(std::wstring(235, L'y'), 1);
    service.LogError(std::wstring(236, L'z'), 1);
    EXPECT_THAT(fp.eventLog.messages(),
                ElementsAre(std::wstring(235, L'y') + L" failed w/err 0x00000001",
                            std::wstring(236, L'z') + L" failed w/err 0x0000000"));
}

}  // namespace
}  // namespace vt::service
