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
    std::lock_guard<std::mutex> lock(threads_.eventMutex_);
    set_ = true;
    threads_.eventCv_.notify_all();
}

bool FakeEvent::Take() {
    const bool was = set_;
    if (autoReset_) {
        set_ = false;
    }
    return was;
}

uint32_t FakeEvent::Wait(uint32_t milliseconds) {
    FakeEvent* self = this;
    return threads_.WaitForAny(&self, 1, milliseconds);
}

uint32_t FakeThreads::WaitForEither(platform::Event& first, platform::Event& second,
                                    uint32_t milliseconds) {
    FakeEvent* events[2] = {dynamic_cast<FakeEvent*>(&first), dynamic_cast<FakeEvent*>(&second)};
    if (events[0] == nullptr || events[1] == nullptr) {
        ADD_FAILURE() << "WaitForEither on an event this fake did not make";
        return platform::kWaitFailed;
    }
    return WaitForAny(events, 2, milliseconds);
}

uint32_t FakeThreads::WaitForAny(FakeEvent* const* events, size_t count, uint32_t milliseconds) {
    if (failEventWaits) {
        return platform::kWaitFailed;
    }
    std::unique_lock<std::mutex> lock(eventMutex_);
    auto taken = [&]() -> uint32_t {
        for (size_t i = 0; i < count; ++i) {
            if (events[i]->Take()) {
                return platform::kWaitObject0 + static_cast<uint32_t>(i);
            }
        }
        return platform::kWaitTimeout;
    };
    uint32_t result = taken();
    if (result != platform::kWaitTimeout) {
        return result;
    }
    if (milliseconds == 0) {
        return platform::kWaitTimeout;  // a look, not a wait
    }
    waits_.push_back(milliseconds);
    lock.unlock();
    if (milliseconds != platform::kInfinite) {
        clock_.Advance(milliseconds);
        return platform::kWaitTimeout;
    }
    if (whileBlocked) {
        whileBlocked();
    } else {
        RunPending();
    }
    lock.lock();
    if (!eventCv_.wait_for(lock, kDeadlockGuard,
                           [&] { return (result = taken()) != platform::kWaitTimeout; })) {
        ADD_FAILURE() << "infinite wait on an event that nothing sets";
        return platform::kWaitFailed;
    }
    return result;
}

std::vector<uint32_t> FakeThreads::waits() {
    std::lock_guard<std::mutex> lock(eventMutex_);
    return waits_;
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

std::unique_ptr<platform::Event> FakeThreads::CreateEvent(bool autoReset) {
    if (createEventError != 0) {
        lastError_ = createEventError;
        return nullptr;
    }
    return std::make_unique<FakeEvent>(*this, autoReset);
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
