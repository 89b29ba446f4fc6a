// Events and work items under the test's control.
//
// Work items are held until the test runs them: RunPending() on the calling
// thread, or RunPendingOnThreads() on real threads that the fake joins when
// it is destroyed. A timed wait never waits for real: when no event it waits
// for is set, it advances the fake clock by the timeout and times out. An
// infinite wait first gives `whileBlocked` a chance to run the work that
// would set an event, then blocks for real, failing the test instead of
// hanging when nothing sets one. Every wait that found no event set is
// recorded with its timeout (waits()), except a zero timeout: a look.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/threads.h"

namespace vt::fakes {

class FakeThreads;

// Lives no longer than the FakeThreads that made it.
class FakeEvent final : public platform::Event {
  public:
    FakeEvent(FakeThreads& threads, bool autoReset) : threads_(threads), autoReset_(autoReset) {}

    void Set() override;
    uint32_t Wait(uint32_t milliseconds) override;

  private:
    friend class FakeThreads;
    // Under the threads' event lock: whether set, clearing an auto-reset one.
    bool Take();

    FakeThreads& threads_;
    bool autoReset_;
    bool set_ = false;
};

class FakeThreads final : public platform::Threads {
  public:
    explicit FakeThreads(FakeClock& clock) : clock_(clock) {}
    ~FakeThreads();

    std::unique_ptr<platform::Event> CreateManualResetEvent() override {
        return CreateEvent(false);
    }
    std::unique_ptr<platform::Event> CreateAutoResetEvent() override { return CreateEvent(true); }
    uint32_t WaitForEither(platform::Event& first, platform::Event& second,
                           uint32_t milliseconds) override;
    bool QueueLongRunning(platform::WorkFunction fn, void* context) override;
    bool StartThread(platform::WorkFunction fn, void* context) override;
    void NameCurrentThread(const char*) override {}
    uint32_t LastError() override { return lastError_; }

    // The timeout of every wait that found no event set, in order.
    std::vector<uint32_t> waits();

    // Runs every queued item, in queue order, on this thread.
    void RunPending() { RunFrom(pending_); }
    // Starts every queued item on a real thread of its own.
    void RunPendingOnThreads();
    // Waits for every thread RunPendingOnThreads started.
    void JoinAll();
    size_t pendingCount();
    // Threads started with StartThread are held apart from work items: this
    // runs them, in start order, on the calling thread.
    void RunStartedThreads() { RunFrom(started_); }
    size_t startedCount() const { return startedCount_; }

    // Fault switches.
    uint32_t failQueueAt = 0;  // the n-th queue call (1-based) fails
    uint32_t queueError = 8;
    bool failStartThread = false;
    uint32_t createEventError = 0;  // non-zero: every creation fails with it
    bool failEventWaits = false;
    // Run by an infinite wait before it blocks; see above. By default it
    // runs the pending work items, which is what a blocked waiter is
    // waiting for.
    std::function<void()> whileBlocked;

  private:
    friend class FakeEvent;
    std::unique_ptr<platform::Event> CreateEvent(bool autoReset);
    // Index of the first event taken, kWaitTimeout or kWaitFailed.
    uint32_t WaitForAny(FakeEvent* const* events, size_t count, uint32_t milliseconds);
    void RunFrom(std::vector<std::pair<platform::WorkFunction, void*>>& items);

    FakeClock& clock_;
    // Every event's state, so one wait can watch two events.
    std::mutex eventMutex_;
    std::condition_variable eventCv_;
    std::vector<uint32_t> waits_;
    std::mutex mutex_;
    std::vector<std::pair<platform::WorkFunction, void*>> pending_;
    std::vector<std::thread> threads_;
    std::vector<std::pair<platform::WorkFunction, void*>> started_;
    size_t queued_ = 0;
    size_t startedCount_ = 0;
    uint32_t lastError_ = 0;
};

}  // namespace vt::fakes
