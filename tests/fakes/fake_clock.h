// A virtual clock: Sleep advances time at once and is recorded. A test may
// hook Sleep to hold a worker inside its sleep (a handshake, not a delay).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace vt::fakes {

class FakeClock final : public platform::Clock {
  public:
    uint32_t TickCount() override { return static_cast<uint32_t>(now_.load()); }
    uint64_t TickCount64() override { return now_.load(); }
    void Sleep(uint32_t milliseconds) override {
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sleeps_.push_back(milliseconds);
            hook = onSleep;
        }
        if (hook) {
            hook(milliseconds);
        }
        now_ += milliseconds;
    }
    // The wall clock runs with the tick count from its own start.
    uint64_t LocalTimeMs() override { return wallStart + now_.load(); }
    void Advance(uint64_t milliseconds) { now_ += milliseconds; }
    void Set(uint64_t milliseconds) { now_ = milliseconds; }

    std::vector<uint32_t> sleeps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }

    uint64_t wallStart = 63'000'000'000'000;  // some day in 1997, in ms
    // Called on the sleeping thread before time moves on.
    std::function<void(uint32_t)> onSleep;

  private:
    std::atomic<uint64_t> now_{0};
    std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace vt::fakes
