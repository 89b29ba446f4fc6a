// The companion watcher's counting, starting and ending, pass by pass on the
// fake clock, and its part in the service's stop.
#include "service/companion_watcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "service/tw_service.h"

namespace vt::service {
namespace {

using namespace platform;
using fakes::FakePlatform;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kPath = "/opt/vtservice/tw-nightjar.exe";

class CompanionWatcherTest : public ::testing::Test {
  protected:
    // Runs passes until the n-th; returns the passes at which a launch
    // happened.
    std::vector<int> RunPasses(int n) {
        std::vector<int> launches;
        for (int i = 1; i <= n; ++i) {
            const size_t before = fp.processes.launched.size();
            EXPECT_TRUE(watcher.Pass());
            if (fp.processes.launched.size() != before) {
                launches.push_back(i);
            }
        }
        return launches;
    }

    FakePlatform fp;
    std::unique_ptr<Event> stopped = fp.threads.CreateManualResetEvent();
    std::atomic<bool> stopping{false};
    std::atomic<int32_t> count{1};
    PassWait countChanged{fp.clock};  // not attached: the old 10 ms rests
    std::atomic<ProcessHandle> held{kNoProcess};
    CompanionWatcher watcher{
        {*stopped, stopping, count, countChanged, held}, fp.processes, fp.folders, fp.clock};
};

TEST_F(CompanionWatcherTest, FirstStartOnTheSeventhPassFromTheServiceFolder) {
    EXPECT_THAT(RunPasses(7), ElementsAre(7));
    EXPECT_THAT(fp.processes.launched, ElementsAre(kPath));
    EXPECT_EQ(held, 100);
    EXPECT_EQ(watcher.missCounter(), 0);
    // Seven two-second waits and nothing else: about 14 s.
    EXPECT_EQ(fp.clock.TickCount64(), 14000u);
    EXPECT_THAT(fp.clock.sleeps(), IsEmpty());
}

TEST_F(CompanionWatcherTest, RestartOnTheFifthPassThatMissesIt) {
    RunPasses(7);
    EXPECT_THAT(RunPasses(3), IsEmpty());  // found each time: 0, then 1
    EXPECT_EQ(watcher.missCounter(), 1);
    fp.processes.Exit(100);
    EXPECT_THAT(RunPasses(5), ElementsAre(5));
    ASSERT_EQ(fp.processes.launched.size(), 2u);
    // The handle of the copy that ended is let go before the new start.
    EXPECT_THAT(fp.processes.released, ElementsAre(100));
    EXPECT_EQ(held, 101);
    EXPECT_TRUE(fp.processes.terminated.empty());
}

TEST_F(CompanionWatcherTest, AUserStartedCopyIsNeitherDoubledNorEnded) {
    const ProcessHandle users = fp.processes.StartByUser("tw-nightjar.exe");
    EXPECT_THAT(RunPasses(30), IsEmpty());
    count = 0;
    RunPasses(3);
    EXPECT_TRUE(fp.processes.terminated.empty());
    EXPECT_TRUE(fp.processes.IsRunning(users));
}

TEST_F(CompanionWatcherTest, WithoutAUserSessionEverySixthPassTriesAgain) {
    fp.processes.launchSucceeds = false;
    EXPECT_THAT(RunPasses(20), ElementsAre(7, 13, 19));
    EXPECT_EQ(held, kNoProcess);
    // The user logs on: the next attempt starts it.
    fp.processes.launchSucceeds = true;
    EXPECT_THAT(RunPasses(6), ElementsAre(5));
    EXPECT_NE(held, kNoProcess);
}

TEST_F(CompanionWatcherTest, CountZeroEndsTheHeldCopyOnTheNextPass) {
    RunPasses(7);
    count = 0;
    const int listings = fp.processes.listings;
    EXPECT_TRUE(watcher.Pass());
    EXPECT_THAT(fp.processes.terminated, ElementsAre(std::make_pair(ProcessHandle{100}, 0u)));
    EXPECT_EQ(held, kNoProcess);
    EXPECT_FALSE(fp.processes.IsRunning(100));
    EXPECT_EQ(fp.processes.openHandles(), 0u);
    // Without a device nothing is looked for; each pass rests 10 ms where
    // it cannot wait for one.
    RunPasses(3);
    EXPECT_EQ(fp.processes.listings, listings);
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre(10u, 10u, 10u, 10u));
    EXPECT_EQ(fp.processes.terminated.size(), 1u);
    // The counter was left where it was (0 after the start): the device's
    // return finds the program missing and starts it on the sixth pass.
    count = 1;
    EXPECT_THAT(RunPasses(6), ElementsAre(6));
}

TEST_F(CompanionWatcherTest, NothingStartsOnceTheStopBegan) {
    RunPasses(6);
    stopping = true;
    EXPECT_THAT(RunPasses(7), IsEmpty());
    EXPECT_EQ(held, kNoProcess);
}

TEST_F(CompanionWatcherTest, ReturnsOnceStoppedIsSignalled) {
    stopped->Set();
    EXPECT_FALSE(watcher.Pass());
    EXPECT_EQ(fp.processes.listings, 0);
    EXPECT_EQ(fp.clock.TickCount64(), 0u);
}

// Without a device that needs the program the watcher waits for one instead
// of looking every two seconds; from its arrival on it looks as from the
// start. (That the stop ends this wait is the service's idle test's.)
TEST(CompanionWatcherIdle, WithoutADeviceItWaitsForOneAndCountsFromItsArrival) {
    FakePlatform fp;
    auto stopRequested = fp.threads.CreateManualResetEvent();
    auto stopped = fp.threads.CreateManualResetEvent();
    devices::DeviceLayer layer{fp.eventLog, fp.console, fp.clock};
    ASSERT_TRUE(layer.WatchStop(fp.threads, *stopRequested));
    std::atomic<bool> stopping{false};
    std::atomic<ProcessHandle> held{kNoProcess};
    CompanionWatcher watcher(
        {*stopped, stopping, layer.companionDeviceCount, layer.companionWait, held}, fp.processes,
        fp.folders, fp.clock);
    auto notify = [&](uint32_t arrival) {
        layer.HandleNotify(fakes::MakeNotify(0x3A7C, 0x012D, "hid#qt500g", arrival));
    };
    fp.threads.whileBlocked = [&] { notify(1); };
    EXPECT_TRUE(watcher.Pass());
    EXPECT_EQ(fp.processes.listings, 0);
    EXPECT_THAT(fp.threads.waits(), ElementsAre(2000u, kInfinite));
    for (int i = 1; i < 7; ++i) {
        EXPECT_TRUE(watcher.Pass());
    }
    EXPECT_TRUE(fp.processes.launched.empty());
    EXPECT_TRUE(watcher.Pass());  // the seventh look after the arrival
    EXPECT_EQ(fp.processes.launched.size(), 1u);
    EXPECT_EQ(fp.clock.TickCount64(), 16000u);
    EXPECT_THAT(fp.clock.sleeps(), IsEmpty());
}

TEST_F(CompanionWatcherTest, AFailingWaitStillStartsPassesAndEndsWithTheFlag) {
    fp.threads.failEventWaits = true;
    EXPECT_THAT(RunPasses(7), ElementsAre(7));
    stopping = true;
    EXPECT_FALSE(watcher.Pass());
}

// The watcher inside the service: started last, ended with the stop.
class ServiceCompanionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TWServiceBase::s_current = &service;
        fakes::TwLink().Attach({{"model", "QT500G"},
                                {"productId", 0x012D},
                                {"path", "hid#qt500g"}});  // a companion model
        service.Start(0, nullptr);
    }
    void TearDown() override {
        service.RaiseStop();
        service.stoppedEvent().Set();
        fp.threads.RunPending();
        TWServiceBase::s_current = nullptr;
    }
    FakePlatform fp;
    Platform platform = fp.get();
    TWService service{platform};
};

// A pass already starting the program when the stop begins: the stop found
// no handle to end, so the watcher ends the copy it just started.
TEST_F(ServiceCompanionTest, ACopyStartedAsTheStopBeginsDoesNotOutliveIt) {
    fp.processes.onLaunch = [this] {
        fp.processes.onLaunch = nullptr;
        service.Stop();
    };
    CompanionWatcher watcher(service.CompanionShared(), fp.processes, fp.folders, fp.clock);
    for (int i = 0; i < 7; ++i) {
        watcher.Pass();
    }
    ASSERT_EQ(fp.processes.launched.size(), 1u);
    EXPECT_FALSE(fp.processes.IsRunning(100));
    EXPECT_EQ(service.companionProcess(), kNoProcess);
    EXPECT_THAT(fp.processes.released, ElementsAre(100));
    EXPECT_EQ(fp.processes.openHandles(), 0u);
    EXPECT_FALSE(watcher.Pass());
}

// The other order: the copy was stored after the stop looked at the handle
// but before the watcher could see the flag. The stop looks again.
TEST_F(ServiceCompanionTest, TheStopLooksAgainForACopyStoredWhileItWaited) {
    ProcessHandle late = kNoProcess;
    // While the stop waits, a watcher pass stores the copy it started.
    fp.threads.whileBlocked = [&] {
        late = fp.processes.StartByUser("tw-nightjar.exe");
        service.companionProcess() = late;
        fp.threads.RunPending();
    };
    const ProcessHandle first = fp.processes.StartByUser("tw-nightjar.exe");
    service.companionProcess() = first;
    service.Stop();
    EXPECT_FALSE(fp.processes.IsRunning(first));
    ASSERT_NE(late, kNoProcess);
    EXPECT_FALSE(fp.processes.IsRunning(late));
    EXPECT_EQ(service.companionProcess(), kNoProcess);
    EXPECT_THAT(fp.processes.released, ElementsAre(first, late));
}

}  // namespace
}  // namespace vt::service
