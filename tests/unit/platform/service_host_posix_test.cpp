// The daemon's dispatcher: SIGTERM becomes the stop control, held back while
// the service is still starting, and the dispatcher returns once the service
// reports stopped.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

PosixServiceHost* g_host = nullptr;
StatusHandle g_handle = nullptr;
// Written by the handler on the dispatcher thread, read by the test after
// the dispatcher returned (its join orders them).
std::vector<uint32_t> g_controls;
// Whether the service had reported running when the stop reached it.
std::atomic<bool> g_running{false};
std::atomic<bool> g_stopSawRunning{false};
bool g_signalWhileStarting = false;
bool g_failStart = false;

void Report(uint32_t state) {
    ServiceStatus s;
    s.currentState = state;
    g_host->SetStatus(g_handle, s);
}

void Handler(uint32_t control) {
    g_controls.push_back(control);
    g_stopSawRunning = g_running.load();
    if (control == kServiceControlStop) {
        Report(kServiceStopPending);
        Report(kServiceStopped);
    }
}

void Main(uint32_t, wchar_t**) {
    g_handle = g_host->RegisterControlHandler(L"VTService", Handler);
    Report(kServiceStartPending);
    if (g_signalWhileStarting) {
        kill(getpid(), SIGTERM);
    }
    if (g_failStart) {
        Report(kServiceStopped);
        return;
    }
    g_running = true;
    Report(kServiceRunning);
    if (!g_signalWhileStarting) {
        kill(getpid(), SIGTERM);
    }
}

class ServiceHostPosix : public ::testing::Test {
  protected:
    void SetUp() override {
        BlockStopSignals();
        g_host = &host;
        g_controls.clear();
        g_running = false;
        g_stopSawRunning = false;
        g_signalWhileStarting = false;
        g_failStart = false;
    }
    PosixServiceHost host;
};

TEST_F(ServiceHostPosix, SigtermDeliversOneStopAndTheDispatcherReturns) {
    EXPECT_TRUE(host.RunDispatcher(L"VTService", Main));
    EXPECT_EQ(g_controls, std::vector<uint32_t>{kServiceControlStop});
}

TEST_F(ServiceHostPosix, StopDuringStartIsHeldUntilRunning) {
    g_signalWhileStarting = true;
    EXPECT_TRUE(host.RunDispatcher(L"VTService", Main));
    EXPECT_EQ(g_controls, std::vector<uint32_t>{kServiceControlStop});
    // The stop may not overtake the start.
    EXPECT_TRUE(g_stopSawRunning);
}

TEST_F(ServiceHostPosix, FailedStartEndsTheDispatcherWithoutAControl) {
    g_failStart = true;
    EXPECT_TRUE(host.RunDispatcher(L"VTService", Main));
    EXPECT_TRUE(g_controls.empty());
}

TEST_F(ServiceHostPosix, MainThatNeverReportsDoesNotHangTheDispatcher) {
    EXPECT_TRUE(host.RunDispatcher(L"VTService", [](uint32_t, wchar_t**) {}));
    EXPECT_TRUE(g_controls.empty());
}

}  // namespace
}  // namespace vt::platform::posix
