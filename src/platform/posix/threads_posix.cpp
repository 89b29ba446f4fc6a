#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>

#include "platform/posix/system_posix.h"
#include "platform/system_error.h"

namespace vt::platform::posix {

namespace {

thread_local uint32_t t_lastError = 0;

}  // namespace

PosixEvent::~PosixEvent() {
    close(fd_);
}

void PosixEvent::Set() {
    // Never read back: the descriptor stays readable once set. Nothing of
    // the object is touched after the write, so a waiter that wakes may
    // destroy it at once.
    const uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

uint32_t PosixEvent::Wait(uint32_t milliseconds) {
    const bool forever = milliseconds == kInfinite;
    const uint64_t deadline = MonotonicMs() + milliseconds;
    for (;;) {
        uint64_t left = 0;
        if (!forever) {
            const uint64_t now = MonotonicMs();
            left = now < deadline ? deadline - now : 0;
        }
        pollfd p{fd_, POLLIN, 0};
        const int timeout = forever ? -1 : static_cast<int>(std::min<uint64_t>(left, INT32_MAX));
        const int n = poll(&p, 1, timeout);
        if (n > 0) {
            return kWaitObject0;
        }
        if (n == 0 && !forever && left == 0) {
            return kWaitTimeout;
        }
        if (n < 0 && errno != EINTR) {
            t_lastError = static_cast<uint32_t>(errno);
            return kWaitFailed;
        }
    }
}

std::unique_ptr<Event> PosixThreads::CreateManualResetEvent() {
    const int fd = eventfd(0, EFD_CLOEXEC);
    if (fd < 0) {
        t_lastError = errno == EMFILE || errno == ENFILE || errno == ENOMEM
                          ? kErrorNotEnoughMemory
                          : static_cast<uint32_t>(errno);
        return nullptr;
    }
    return std::make_unique<PosixEvent>(fd);
}

bool PosixThreads::QueueLongRunning(WorkFunction fn, void* context) {
    // Long-running items own their thread for life, as a pool's
    // long-function threads do.
    return StartThread(fn, context);
}

bool PosixThreads::StartThread(WorkFunction fn, void* context) {
    try {
        // Any thread of the service may run into the device library.
        std::thread([fn, context] {
            ArmCrashStack();
            fn(context);
        }).detach();  // nothing joins it
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
