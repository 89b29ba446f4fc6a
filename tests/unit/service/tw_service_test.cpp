// The service object's start, stop watch and stop.
#include "service/tw_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>

#include "fakes/fake_platform.h"

namespace vt::service {
namespace {

using namespace platform;
using fakes::FakePlatform;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Value;

class TWServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { TWServiceBase::s_current = &service; }
    void TearDown() override {
        // Let any work item still queued or running come to its end, as a
        // process would, before the service and the fakes go away.
        service.RaiseStop();
        fp.threads.JoinAll();
        fp.threads.RunPending();
        TWServiceBase::s_current = nullptr;
    }
    FakePlatform fp;
    Platform platform = fp.get();
    TWService service{platform};
};

// The only check of the shared state a new service starts with: the OLED
// job neither paints nor counts as turned off before the application says.
TEST_F(TWServiceTest, StartsWithTheJobNeitherOnNorOffAndNoHeartbeat) {
    EXPECT_EQ(service.state().enabled, 0);
    EXPECT_EQ(service.state().disabled, 0);
    EXPECT_EQ(service.state().lastHeartbeat, 0u);
}

TEST_F(TWServiceTest, FullStartAndStopWritesTheEntriesInOrder) {
    service.Start(0, nullptr);
    service.Stop();  // the blocked wait runs the queued stop watch
    // The queued work items run once the stop waits: the watch, then the pipe
    // server and the OLED job, which see the stop and end after their start.
    EXPECT_THAT(
        fp.eventLog.messages(),
        ElementsAre(L"TWService in OnStart", L"TWservice in OnStop",
                    L"TWservice ServiceWorkerThread", L"TWservice PipeWorkerThread",
                    L"TWservice PipeWorkerThread OK", L"VTService is Readly,Will While(1)",
                    L"OledDataConvert.dll lacks the export oledDataConvert", L"TWservice JobThread",
                    L"Disable job", L"LoadLibrary cpuidsdk failed"));
    EXPECT_TRUE(service.stopping());
    // Only a companion the service holds is ended.
    EXPECT_TRUE(fp.processes.terminated.empty());
}

// Started with nothing to look after, every work item waits for a change or
// the stop, none polls; the stop ends them all at once.
TEST_F(TWServiceTest, IdleWorkItemsWaitWithoutPollingAndTheStopEndsThemAtOnce) {
    fp.pipes.waitForStopWhenDone = true;  // the pipe thread waits for the stop
    service.Start(0, nullptr);
    fp.threads.RunPendingOnThreads();
    // A handshake with the threads, not a timing rule: each of the six is
    // blocked in its wait (the watch, the pipe, the cycle, the job, the
    // companion watcher after its first two-second look, the telemetry).
    auto blocked = [&] {
        const auto waits = fp.threads.waits();
        return std::count(waits.begin(), waits.end(), kInfinite);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (blocked() < 6 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_EQ(blocked(), 6);

    service.Stop();
    EXPECT_EQ(fp.serviceHost.reports().back().currentState, kServiceStopped);
    fp.threads.JoinAll();
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre());
    EXPECT_THAT(fp.threads.waits(), ::testing::Each(::testing::AnyOf(kInfinite, 2000u)));
}

// A work item still inside a call that does not return is awaited for the
// bound alone; then the destruction ends the process rather than free what
// the item still uses.
TEST_F(TWServiceTest, WorkItemsAreAwaitedForTheBoundOnly) {
    service.Start(0, nullptr);
    service.RaiseStop();
    EXPECT_FALSE(service.AwaitWorkItems());  // none has run: all still "inside"
    const auto sleeps = fp.clock.sleeps();
    EXPECT_EQ(std::accumulate(sleeps.begin(), sleeps.end(), 0u), TWService::kWorkItemsWaitMs);
    fp.threads.RunPending();
    EXPECT_TRUE(service.AwaitWorkItems());
    EXPECT_THAT(fp.processes.ended, ElementsAre());
}

// The held companion is ended with exit code 0 and let go of even when the
// termination fails (logged): nothing follows it any more. A system
// shutdown ends it as a stop does.
TEST(TWServiceStop, EndsTheHeldCompanionAndLetsGoOfItWhateverTheEnd) {
    for (int i = 0; i < 3; ++i) {
        const bool succeeds = i != 1, shutdown = i == 2;
        SCOPED_TRACE(i);
        FakePlatform fp;
        fp.processes.terminateSucceeds = succeeds;
        TWService service(fp.get());
        service.companionProcess() = 4242;
        service.Start(0, nullptr);
        EXPECT_TRUE(shutdown ? service.Shutdown() : service.Stop());
        EXPECT_THAT(fp.processes.terminated, ElementsAre(std::make_pair(ProcessHandle{4242}, 0u)));
        EXPECT_EQ(
            Value(fp.eventLog.messages(), Contains(L"fail to stop kestrel process in OnStop")),
            !succeeds);
        EXPECT_THAT(fp.processes.released, ElementsAre(4242));
        EXPECT_EQ(service.companionProcess(), kNoProcess);
        EXPECT_EQ(fp.serviceHost.reports().back().currentState, kServiceStopped);
    }
}

TEST_F(TWServiceTest, StartBringsUpTheLibraryThenQueuesThenRegistersHotPlug) {
    fakes::TwLink().Attach({{"model", "HV230"}, {"path", "hid#hv230"}});
    fakes::TwLink().Attach({{"model", "QT500G"}, {"productId", 0x012D}, {"path", "hid#qt500g"}});
    service.Start(0, nullptr);
    EXPECT_THAT(fakes::Calls(), ElementsAre("twlink_background(1)", "twlink_init", "devInfo",
                                            "hv230(hid#hv230)", "HV230.RegisterKeyCallback(true)",
                                            "HV230.SetKeyNotify(1)", "registerDevNotify(true)"));
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"TWService in OnStart", L"CreateHV230"));
    EXPECT_EQ(service.devices().companionDeviceCount, 1);
    EXPECT_EQ(devices::DeviceLayer::Active(), &service.devices());
    EXPECT_EQ(fp.threads.pendingCount(), 6u);

    service.Stop();
    EXPECT_EQ(service.devices().companionDeviceCount, 0);
}

TEST_F(TWServiceTest, WithoutTheDeviceLibraryTheServiceRunsOn) {
    fp.libraries.loadError = 126;
    service.Start(0, nullptr);
    EXPECT_THAT(fp.eventLog.messages(),
                ElementsAre(L"TWService in OnStart", L"Load TWLINK.dll failed w/err 0x0000007e"));
    EXPECT_TRUE(fakes::Calls().empty());
    EXPECT_EQ(fp.serviceHost.reports().back().currentState, kServiceRunning);
    EXPECT_EQ(fp.threads.pendingCount(), 6u);
}

TEST_F(TWServiceTest, TheCoolerFollowsTheScreenSaver) {
    ASSERT_NE(fp.screenSaver.sink, nullptr);  // subscribed at construction
    fakes::TwLink().Attach({{"model", "LQ120"}, {"path", "hid#lq120"}, {"saverEnabled", true}});
    service.Start(0, nullptr);
    fakes::TwLink().ClearLog();

    fp.screenSaver.Start();
    fp.screenSaver.Stop();
    EXPECT_THAT(fakes::Calls(),
                ElementsAre("LQ120.SetSaverSwitchA(0)", "LQ120.SetSaverSwitchB(0)",
                            "LQ120.SetSaverSwitchA(1)", "LQ120.SetSaverSwitchB(1)"));
}

TEST(TWServiceScreenSaver, SubscribedForTheObjectsLifeAndOptional) {
    FakePlatform fp;
    fp.screenSaver.available = false;
    {
        TWService service(fp.get());
        EXPECT_EQ(fp.screenSaver.subscribes, 1);
        EXPECT_EQ(fp.screenSaver.unsubscribes, 0);
        // Without the notification service everything else still runs.
        service.Start(0, nullptr);
        EXPECT_EQ(fp.serviceHost.reports().back().currentState, kServiceRunning);
        service.Stop();
    }
    EXPECT_EQ(fp.screenSaver.unsubscribes, 1);
}

// A work item that cannot be queued stops the service with the queue's code.
// Hot-plug is registered after the watch and the pipe are queued, before the
// cooler's cycle; a watch already queued has seen the stop and ended before
// the stop is reported, and nothing is left queued. (The state and exit
// code a failed start or stop leaves are the base's: ServiceBaseFaults.)
TEST(TWServiceFaults, AFailedQueueStopsTheServiceWithItsCode) {
    for (uint32_t at : {1u, 2u, 3u}) {
        SCOPED_TRACE(at);
        FakePlatform fp;
        fp.threads.failQueueAt = at;
        fp.threads.queueError = 8;
        TWService service(fp.get());
        TWServiceBase::s_current = &service;
        service.Start(0, nullptr);
        TWServiceBase::s_current = nullptr;
        EXPECT_EQ(fp.eventLog.messages().back(), L"Service Start failed w/err 0x00000008");
        EXPECT_EQ(Value(fakes::Calls(), Contains("registerDevNotify(true)")), at > 2);
        if (at > 1) {
            EXPECT_EQ(service.stoppedEvent().Wait(0), kWaitObject0);
        }
        EXPECT_EQ(fp.threads.pendingCount(), 0u);
    }
}

TEST(TWServiceFaults, FailedStopWaitReturnsToRunning) {
    FakePlatform fp;
    fp.threads.failEventWaits = true;
    Platform platform = fp.get();
    TWService service(platform);
    service.Start(0, nullptr);
    service.Stop();
    EXPECT_EQ(fp.eventLog.messages().back().rfind(L"Service Stop failed w/err 0x", 0), 0u);
    fp.threads.RunPending();  // the watch still runs and sees the flag
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre());
}

}  // namespace
}  // namespace vt::service
