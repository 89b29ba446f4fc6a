#include "common/pass_wait.h"

#include <algorithm>

namespace vt {

using platform::kInfinite;
using platform::kWaitObject0;
using platform::kWaitTimeout;

bool PassWait::Attach(platform::Threads& threads, platform::Event& stop) {
    wake_ = threads.CreateAutoResetEvent();
    if (!wake_) {
        return false;
    }
    threads_ = &threads;
    stop_ = &stop;
    return true;
}

void PassWait::Wake() {
    if (wake_) {
        wake_->Set();
    }
}

void PassWait::Rearm() {
    if (wake_) {
        wake_->Wait(0);  // clears it when set; nothing else to do when not
    }
}

bool PassWait::WaitForWake(uint32_t pollMs) {
    const uint32_t result =
        wake_ ? threads_->WaitForEither(*stop_, *wake_, kInfinite) : platform::kWaitFailed;
    if (result == kWaitObject0) {
        return true;
    }
    if (result != kWaitObject0 + 1) {
        clock_.Sleep(pollMs);
    }
    return false;
}

bool PassWait::WaitPeriod(uint64_t milliseconds, uint32_t stepMs,
                          const std::function<bool()>& until) {
    if (!wake_) {
        return PollPeriod(milliseconds, stepMs, until);
    }
    const uint64_t deadline = clock_.TickCount64() + milliseconds;
    for (;;) {
        const uint64_t now = clock_.TickCount64();
        if (now >= deadline) {
            return false;
        }
        const auto left = static_cast<uint32_t>(std::min<uint64_t>(deadline - now, kInfinite - 1));
        switch (threads_->WaitForEither(*stop_, *wake_, left)) {
            case kWaitObject0:
                return true;
            case kWaitObject0 + 1:
                if (until && until()) {
                    return false;
                }
                break;
            case kWaitTimeout:
                break;
            default:
                return PollPeriod(deadline - now, stepMs, until);
        }
    }
}

bool PassWait::PollPeriod(uint64_t milliseconds, uint32_t stepMs,
                          const std::function<bool()>& until) {
    for (uint64_t slept = 0; slept < milliseconds;) {
        const auto step = static_cast<uint32_t>(
            std::min<uint64_t>(std::max<uint32_t>(stepMs, 1), milliseconds - slept));
        clock_.Sleep(step);
        slept += step;
        if (until && until()) {
            break;
        }
    }
    return false;
}

}  // namespace vt
