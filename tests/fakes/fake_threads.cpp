#include "fakes/fake_threads.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vt::fakes {

namespace {
// Guards against a test that deadlocks; no timing rule is checked with it.
constexpr auto kDeadlockGuard = std::chrono::seconds(20);
}  // namespace

void FakeEvent::Set() {
    // Notify under the lock: a waiter that wakes may destroy the event
    // at once, so nothing may touch it after the lock is released.
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    cv_.notify_all();
}

bool FakeEvent::IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

uint32_t FakeEvent::Wait(uint32_t milliseconds) {
    if (failWaits_) {
        return platform::kWaitFailed;
    }
    if (milliseconds != platform::kInfinite) {
        if (IsSet()) {
            return platform::kWaitObject0;
        }
        clock_.Advance(milliseconds);
        return platform::kWaitTimeout;
    }
    if (!IsSet() && whileBlocked_) {
        whileBlocked_();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, kDeadlockGuard, [this] { return set_; })) {
        ADD_FAILURE() << "infinite wait on an event that nothing sets";
        return platform::kWaitFailed;
    }
    return platform::kWaitObject0;
}

FakeThreads::~FakeThreads() {
    JoinAll();
}

void FakeThreads::JoinAll() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(threads_);
    }
    for (auto& t : threads) {
        t.join();
    }
}

std::unique_ptr<platform::Event> FakeThreads::CreateManualResetEvent() {
    if (failCreateEvent) {
        lastError_ = createEventError;
        return nullptr;
    }
    std::function<void()> hook = whileBlocked;
    if (!hook) {
        hook = [this] { RunPending(); };
    }
    return std::make_unique<FakeEvent>(clock_, hook, failEventWaits);
}

bool FakeThreads::QueueLongRunning(platform::WorkFunction fn, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++queued_;
    if (failQueueAt != 0 && queued_ == failQueueAt) {
        lastError_ = queueError;
        return false;
    }
    pending_.emplace_back(fn, context);
    return true;
}

bool FakeThreads::StartThread(platform::WorkFunction fn, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failStartThread) {
        lastError_ = queueError;
        return false;
    }
    ++startedCount_;
    started_.emplace_back(fn, context);
    return true;
}

void FakeThreads::RunStartedThreads() {
    RunFrom(started_);
}

void FakeThreads::RunPending() {
    RunFrom(pending_);
}

void FakeThreads::RunFrom(std::vector<std::pair<platform::WorkFunction, void*>>& items) {
    for (;;) {
        std::pair<platform::WorkFunction, void*> item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (items.empty()) {
                return;
            }
            item = items.front();
            items.erase(items.begin());
        }
        item.first(item.second);
    }
}

void FakeThreads::RunPendingOnThreads() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& item : pending_) {
        threads_.emplace_back(item.first, item.second);
    }
    pending_.clear();
}

size_t FakeThreads::pendingCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

}  // namespace vt::fakes
