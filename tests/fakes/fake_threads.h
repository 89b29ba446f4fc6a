// Events and work items under the test's control.
//
// Work items are held until the test runs them: RunPending() on the calling
// thread, or RunPendingOnThreads() on real threads that the fake joins when
// it is destroyed. An event's timed wait never waits for real: an unset event
// advances the fake clock by the timeout and times out. An infinite wait
// first gives `whileBlocked` a chance to run the work that would set it, then
// blocks for real, failing the test instead of hanging when nothing sets it.
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

class FakeEvent final : public platform::Event {
  public:
    FakeEvent(FakeClock& clock, std::function<void()> whileBlocked, bool failWaits)
        : clock_(clock), whileBlocked_(std::move(whileBlocked)), failWaits_(failWaits) {}

    void Set() override;
    uint32_t Wait(uint32_t milliseconds) override;
    bool IsSet();

  private:
    FakeClock& clock_;
    std::function<void()> whileBlocked_;
    bool failWaits_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

class FakeThreads final : public platform::Threads {
  public:
    explicit FakeThreads(FakeClock& clock) : clock_(clock) {}
    ~FakeThreads();

    std::unique_ptr<platform::Event> CreateManualResetEvent() override;
    bool QueueLongRunning(platform::WorkFunction fn, void* context) override;
    bool StartThread(platform::WorkFunction fn, void* context) override;
    uint32_t LastError() override { return lastError_; }

    // Runs every queued item, in queue order, on this thread.
    void RunPending();
    // Starts every queued item on a real thread of its own.
    void RunPendingOnThreads();
    // Waits for every thread RunPendingOnThreads started.
    void JoinAll();
    size_t pendingCount();
    // Threads started with StartThread are held apart from work items: this
    // runs them, in start order, on the calling thread.
    void RunStartedThreads();
    size_t startedCount() const { return startedCount_; }
    size_t queuedCount() const { return queued_; }

    // Fault switches.
    uint32_t failQueueAt = 0;  // the n-th queue call (1-based) fails
    uint32_t queueError = 8;
    bool failStartThread = false;
    bool failCreateEvent = false;
    uint32_t createEventError = 1816;  // not enough quota
    bool failEventWaits = false;
    // Given to every event created; see FakeEvent. By default it runs the
    // pending work items, which is what a blocked waiter is waiting for.
    std::function<void()> whileBlocked;

  private:
    void RunFrom(std::vector<std::pair<platform::WorkFunction, void*>>& items);

    FakeClock& clock_;
    std::mutex mutex_;
    std::vector<std::pair<platform::WorkFunction, void*>> pending_;
    std::vector<std::thread> threads_;
    std::vector<std::pair<platform::WorkFunction, void*>> started_;
    size_t queued_ = 0;
    size_t startedCount_ = 0;
    uint32_t lastError_ = 0;
};

}  // namespace vt::fakes
