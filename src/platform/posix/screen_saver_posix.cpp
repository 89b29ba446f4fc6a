#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

sigset_t ScreenSaverSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

}  // namespace

PosixScreenSaverEvents::~PosixScreenSaverEvents() {
    Unsubscribe();
}

bool PosixScreenSaverEvents::Subscribe(ScreenSaverSink& sink) {
    if (thread_.joinable()) {
        return false;
    }
    // Blocked before any other thread exists, so every thread inherits the
    // mask and the signals wait for the signalfd instead of ending the
    // process (their default action). They stay blocked after Unsubscribe
    // for the same reason.
    const sigset_t set = ScreenSaverSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return false;
    }
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        CloseFds();
        return false;
    }
    thread_ = std::thread([this, &sink] { Deliver(sink); });
    return true;
}

void PosixScreenSaverEvents::Deliver(ScreenSaverSink& sink) {
    pthread_setname_np(pthread_self(), "vt-screensaver");
    ArmCrashStack();  // the sink calls into the device library
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            continue;  // EINTR
        }
        if (fds[1].revents != 0) {
            return;
        }
        signalfd_siginfo info;
        if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        if (info.ssi_signo == SIGUSR1) {
            sink.ScreenSaverStarted();
        } else if (info.ssi_signo == SIGUSR2) {
            sink.ScreenSaverStopped();
        }
    }
}

void PosixScreenSaverEvents::Unsubscribe() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) {
            thread_.join();
        } else {
            thread_.detach();  // cannot be told; it ends with the process
        }
    }
    CloseFds();
}

void PosixScreenSaverEvents::CloseFds() {
    for (int* fd : {&signalFd_, &stopFd_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

}  // namespace vt::platform::posix
