// The crash hook of the Linux daemon: a signal handler for the signals that
// mean the process is broken. It writes a short text report (signal,
// faulting address, backtrace) named after the local time into the crash
// folder, prepared and secured at start, then lets the signal end the
// process as it would have anyway.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// A handler that hangs (a lock held by the crashed thread) must not keep a
// broken service alive: the alarm's default action ends it.
constexpr unsigned kHandlerLimitSeconds = 10;
constexpr int kMaxFrames = 64;

// Filled once by Install, read only by the handler.
char g_folder[1024];

void Put(int fd, const char* text) {
    size_t left = strlen(text);
    while (left > 0) {
        const ssize_t n = write(fd, text, left);
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<size_t>(n);
    }
}

void PutNumber(int fd, unsigned long value, unsigned base) {
    char digits[32];
    size_t n = sizeof digits;
    digits[--n] = '\0';
    do {
        digits[--n] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0 && n > 0);
    Put(fd, digits + n);
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

void WriteCrashDump(int signal, siginfo_t* info, void*) {
    alarm(kHandlerLimitSeconds);
    if (g_folder[0] != '\0') {
        const time_t now = time(nullptr);
        struct tm local;
        if (localtime_r(&now, &local) != nullptr) {
            const CrashTime when{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_hour, local.tm_min};
            char path[sizeof g_folder + 64];
            const size_t folderLength = strlen(g_folder);
            memcpy(path, g_folder, folderLength);
            if (FormatCrashFileName(when, ".txt", path + folderLength,
                                    sizeof path - folderLength) != 0) {
                const int fd = CreateCrashReportFile(path);
                if (fd >= 0) {
                    WriteCrashReport(fd, signal, info != nullptr ? info->si_addr : nullptr);
                    close(fd);
                }
            }
        }
    }
    // The handler was reset to the default action on entry and this signal
    // is not blocked (SA_NODEFER): raising it again ends the process.
    raise(signal);
    _exit(128 + signal);
}

}  // namespace

int CreateCrashReportFile(const char* path) {
    // A later crash in the same minute replaces the earlier report, as its
    // name says; removing the name first lets the create insist on a new
    // file that only the service can read.
    unlink(path);
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void WriteCrashReport(int fd, int signal, const void* address) {
    Put(fd, "VTService crashed\nsignal ");
    PutNumber(fd, static_cast<unsigned long>(signal), 10);
    Put(fd, " (");
    Put(fd, SignalName(signal));
    Put(fd, ")\naddress 0x");
    PutNumber(fd, reinterpret_cast<unsigned long>(address), 16);
    Put(fd, "\nbacktrace:\n");
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
}

// An empty folder (the service folder could not be prepared) means no
// reports; the signals still end the process as before.
void PosixCrashHook::Install(const std::string& folder) {
    if (folder.size() >= sizeof g_folder) {
        return;  // no room for a file name after it: no dumps
    }
    memcpy(g_folder, folder.c_str(), folder.size() + 1);
    // The first backtrace loads the unwinder, which allocates: do it now,
    // not inside the handler. The time zone is read now for the same reason.
    void* frame[1];
    backtrace(frame, 1);
    tzset();
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = WriteCrashDump;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int signal : kCrashSignals) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace vt::platform::posix
