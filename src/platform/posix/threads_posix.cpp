#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/posix/system_posix.h"
#include "platform/system_error.h"

namespace vt::platform::posix {

namespace {

thread_local uint32_t t_lastError = 0;

class PosixEvent final : public Event {
  public:
    void Set() override {
        // Notify under the lock: a waiter that wakes may destroy the event
        // at once, so nothing may touch it after the lock is released.
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        cv_.notify_all();
    }

    uint32_t Wait(uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (milliseconds == kInfinite) {
            cv_.wait(lock, [this] { return set_; });
            return kWaitObject0;
        }
        const bool signalled =
            cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; });
        return signalled ? kWaitObject0 : kWaitTimeout;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

}  // namespace

std::unique_ptr<Event> PosixThreads::CreateManualResetEvent() {
    return std::make_unique<PosixEvent>();
}

bool PosixThreads::QueueLongRunning(WorkFunction fn, void* context) {
    // Long-running items own their thread for life, as a pool's
    // long-function threads do.
    return StartThread(fn, context);
}

bool PosixThreads::StartThread(WorkFunction fn, void* context) {
    try {
        std::thread(fn, context).detach();  // nothing joins it
        return true;
    } catch (const std::system_error& e) {
        t_lastError = e.code().value() == EAGAIN ? kErrorNotEnoughMemory
                                                 : static_cast<uint32_t>(e.code().value());
        return false;
    }
}

uint32_t PosixThreads::LastError() {
    return t_lastError;
}

}  // namespace vt::platform::posix
