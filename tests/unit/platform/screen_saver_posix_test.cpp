#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

class RecordingSink final : public ScreenSaverSink {
  public:
    void ScreenSaverStarted() override { Add("started"); }
    void ScreenSaverStopped() override { Add("stopped"); }
    // Waits until `n` notifications have arrived (or a generous deadline,
    // which only a broken delivery ever reaches).
    std::vector<std::string> WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.size() >= n; });
        return seen_;
    }

  private:
    void Add(const char* what) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(what);
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> seen_;
};

TEST(PosixScreenSaver, SignalsReachTheSinkInOrderUntilUnsubscribed) {
    RecordingSink sink;
    PosixScreenSaverEvents events;
    ASSERT_TRUE(events.Subscribe(sink));
    EXPECT_FALSE(events.Subscribe(sink));  // one subscription at a time

    // Sent to the process, as the screen-saver watcher does; one at a time,
    // since two pending signals of one number would merge into one.
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_EQ(sink.WaitFor(1), (std::vector<std::string>{"started"}));
    ASSERT_EQ(kill(getpid(), SIGUSR2), 0);
    EXPECT_EQ(sink.WaitFor(2), (std::vector<std::string>{"started", "stopped"}));

    events.Unsubscribe();
    // Still blocked, so a late signal neither ends the process nor reaches
    // the sink.
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGUSR1), 1);
    EXPECT_EQ(sink.WaitFor(0).size(), 2u);

    // A new subscription picks the pending start up.
    ASSERT_TRUE(events.Subscribe(sink));
    EXPECT_EQ(sink.WaitFor(3).back(), "started");
    events.Unsubscribe();
    events.Unsubscribe();  // twice is harmless
}

}  // namespace
}  // namespace vt::platform::posix
