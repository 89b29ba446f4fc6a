#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/posix/system_posix.h"
#include "platform/system_error.h"

namespace vt::platform::posix {

namespace {

thread_local uint32_t t_lastError = 0;
constexpr uint32_t kErrorInvalidParameter = 87;

// Waits until one of `events` is set and taken: its index, kWaitTimeout or
// kWaitFailed.
uint32_t WaitForAny(PosixEvent* const* events, nfds_t count, uint32_t milliseconds) {
    const bool forever = milliseconds == kInfinite;
    const uint64_t deadline = MonotonicMs() + milliseconds;
    for (;;) {
        uint64_t left = 0;
        if (!forever) {
            const uint64_t now = MonotonicMs();
            left = now < deadline ? deadline - now : 0;
        }
        pollfd p[2];
        for (nfds_t i = 0; i < count; ++i) {
            p[i] = {events[i]->fd(), POLLIN, 0};
        }
        const int timeout = forever ? -1 : static_cast<int>(std::min<uint64_t>(left, INT32_MAX));
        const int n = poll(p, count, timeout);
        if (n > 0) {
            for (nfds_t i = 0; i < count; ++i) {
                if ((p[i].revents & POLLIN) != 0 && events[i]->Take()) {
                    return kWaitObject0 + static_cast<uint32_t>(i);
                }
            }
            continue;  // another wait took it: wait on
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

std::unique_ptr<Event> CreateEvent(bool autoReset) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        t_lastError = errno == EMFILE || errno == ENFILE || errno == ENOMEM
                          ? kErrorNotEnoughMemory
                          : static_cast<uint32_t>(errno);
        return nullptr;
    }
    return std::make_unique<PosixEvent>(fd, autoReset);
}

}  // namespace

PosixEvent::~PosixEvent() {
    close(fd_);
}

void PosixEvent::Set() {
    // Nothing of the object is touched after the write, so a waiter that
    // wakes may destroy it at once.
    const uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool PosixEvent::Take() {
    if (!autoReset_) {
        return true;
    }
    uint64_t count = 0;
    for (;;) {
        if (read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
            return true;
        }
        if (errno != EINTR) {
            return false;  // EAGAIN: cleared by another wait
        }
    }
}

uint32_t PosixEvent::Wait(uint32_t milliseconds) {
    PosixEvent* self = this;
    return WaitForAny(&self, 1, milliseconds);
}

std::unique_ptr<Event> PosixThreads::CreateManualResetEvent() {
    return CreateEvent(false);
}

std::unique_ptr<Event> PosixThreads::CreateAutoResetEvent() {
    return CreateEvent(true);
}

uint32_t PosixThreads::WaitForEither(Event& first, Event& second, uint32_t milliseconds) {
    PosixEvent* events[2] = {dynamic_cast<PosixEvent*>(&first), dynamic_cast<PosixEvent*>(&second)};
    if (events[0] == nullptr || events[1] == nullptr) {
        t_lastError = kErrorInvalidParameter;
        return kWaitFailed;
    }
    return WaitForAny(events, 2, milliseconds);
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

void PosixThreads::NameCurrentThread(const char* name) {
    // The kernel keeps 15 characters and refuses longer names whole.
    char shortName[16] = {};
    std::strncpy(shortName, name, sizeof shortName - 1);
    pthread_setname_np(pthread_self(), shortName);
}

uint32_t PosixThreads::LastError() {
    return t_lastError;
}

}  // namespace vt::platform::posix
