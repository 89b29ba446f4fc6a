#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {
thread_local uint32_t t_lastError = 0;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}
}  // namespace

void BlockStopSignals() {
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void PosixServiceHost::Wake() {
    const uint64_t one = 1;
    const ssize_t written = write(wakeFd_, &one, sizeof one);
    (void)written;
}

bool PosixServiceHost::RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) {
    BlockStopSignals();
    sigset_t set = StopSignals();
    const int signalFd = signalfd(-1, &set, SFD_CLOEXEC);
    if (signalFd < 0) {
        t_lastError = static_cast<uint32_t>(errno);
        return false;
    }
    const int wakeFd = eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) {
        t_lastError = static_cast<uint32_t>(errno);
        close(signalFd);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakeFd_ = wakeFd;
    }

    std::thread serviceThread;
    try {
        serviceThread = std::thread([this, serviceName, serviceMain] {
            ArmCrashStack();  // the start calls into the device library
            wchar_t* argv[] = {const_cast<wchar_t*>(serviceName), nullptr};
            serviceMain(1, argv);
            std::lock_guard<std::mutex> lock(mutex_);
            mainReturned_ = true;
            Wake();
        });
    } catch (const std::system_error& e) {
        t_lastError = static_cast<uint32_t>(e.code().value());
        CloseFds(signalFd);
        return false;
    }

    bool stopWanted = false;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                stopWanted = true;
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            const ssize_t got = read(wakeFd, &count, sizeof count);
            (void)got;
        }

        ControlHandlerFunction deliver = nullptr;
        bool mainReturned = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            mainReturned = mainReturned_;
            if (state_ == kServiceStopped) {
                break;
            }
            // Never reported anything but pending and gone: nothing to stop.
            if (mainReturned_ && state_ == kServiceStartPending) {
                break;
            }
            const bool acceptsStop = state_ == kServiceRunning || state_ == kServicePaused;
            if (stopWanted && acceptsStop && handler_ != nullptr) {
                deliver = handler_;
                stopWanted = false;
            }
        }
        // Joined as soon as it returns, not only when the dispatcher ends:
        // the process may be ended from another thread meanwhile (a hang),
        // and a finished thread nobody joined is a leak to the checkers.
        if (mainReturned && serviceThread.joinable()) {
            serviceThread.join();
        }
        if (deliver != nullptr) {
            deliver(kServiceControlStop);
        }
    }

    if (serviceThread.joinable()) {
        serviceThread.join();
    }
    CloseFds(signalFd);
    return true;
}

void PosixServiceHost::CloseFds(int signalFd) {
    close(signalFd);
    int wakeFd = -1;
    {
        // SetStatus may look at it from the service thread.
        std::lock_guard<std::mutex> lock(mutex_);
        wakeFd = wakeFd_;
        wakeFd_ = -1;
    }
    close(wakeFd);
}

StatusHandle PosixServiceHost::RegisterControlHandler(const wchar_t*,
                                                      ControlHandlerFunction handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = handler;
    return this;
}

bool PosixServiceHost::SetStatus(StatusHandle, const ServiceStatus& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = status.currentState;
    if (wakeFd_ >= 0) {
        Wake();
    }
    return true;
}

uint32_t PosixServiceHost::LastError() {
    return t_lastError;
}

}  // namespace vt::platform::posix
