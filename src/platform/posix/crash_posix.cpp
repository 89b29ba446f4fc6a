// The crash hook of the Linux daemon: a signal handler for the signals that
// mean the process is broken. It runs on a stack of its own, so a thread
// that overflowed its stack still gets a report. It takes the backtrace and
// hands signal, address and frames to a writer thread started at install,
// which writes a short text report named after the local time into the
// service folder, prepared and secured at start; then the handler ends the
// process with the same signal, at the latest once the writer's bound has
// passed. Crashes on other threads meanwhile wait on the same bound.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/crash_handoff.h"
#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;
// EX_SOFTWARE: a failure, so systemd's Restart=on-failure starts it again.
constexpr int kHangExitCode = 70;
// The handler needs a few KiB (its record, the unwinder); the rest is for
// what the sanitizers add to every frame.
constexpr size_t kAltStackSize = 64 * 1024;

// What the crashed thread hands over.
struct PosixCrash {
    int signal = 0;
    const void* address = nullptr;
    void* frames[kMaxFrames] = {};
    int frameCount = 0;
};

using Handoff = CrashHandoff<PosixCrash>;

// A handler that hangs before it could hand over (the unwinder waits for
// the loader's lock the crashed thread holds) must not keep a broken
// service alive either: the alarm's default action ends it just after the
// writer's bound.
constexpr unsigned kBackstopSeconds = Handoff::kWriteBoundMs / 1000 + 1;

// Everything the handler and the writer use, made by Install; never freed.
struct Hook {
    Hook(int crashedFd, int writtenFd, Handoff::WriteFunction write, Handoff::EndFunction end)
        : crashed(crashedFd, false),
          written(writtenFd, false),
          handoff(crashed, written, write, end) {}
    PosixEvent crashed;
    PosixEvent written;
    Handoff handoff;
    char folder[1024] = {};
};
std::atomic<Hook*> g_hook{nullptr};

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

// The report file named after the local time in the hook's folder; -1 when
// there is none.
int OpenReport() {
    const Hook* hook = g_hook.load();
    const time_t now = time(nullptr);
    struct tm local;
    if (hook == nullptr || localtime_r(&now, &local) == nullptr) {
        return -1;
    }
    const CrashTime when{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min};
    char path[sizeof hook->folder + 64];
    const size_t folderLength = strlen(hook->folder);
    memcpy(path, hook->folder, folderLength);
    if (FormatCrashFileName(when, ".txt", path + folderLength, sizeof path - folderLength) == 0) {
        return -1;
    }
    return CreateCrashReportFile(path);
}

// On the writer thread, which may take locks: the worst a lock the crash
// left held can do is cost the report.
void WriteReport(const PosixCrash& crash) {
    const int fd = OpenReport();
    if (fd >= 0) {
        WriteCrashReport(fd, crash.signal, crash.address, crash.frames, crash.frameCount);
        close(fd);
    }
}

// Once the hand-off is over: the signal's default action, then the signal
// again, unblocked (the handler runs with it blocked), ends the process as
// the crash would have. The handler stays installed until here, so a crash
// on another thread meanwhile waits for the report instead of ending the
// process before it is written.
[[noreturn]] void EndProcess(const PosixCrash& crash) {
    struct sigaction fallback;
    memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(crash.signal, &fallback, nullptr);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, crash.signal);
    pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
    raise(crash.signal);
    _exit(128 + crash.signal);
}

// The first crash sets the backstop; later ones keep it where it is.
std::atomic<bool> g_backstopSet{false};

// A fault inside the handler itself arrives while the crash signals are
// blocked, and the kernel ends the process with it: no handler runs twice
// on one thread.
void OnCrashSignal(int signal, siginfo_t* info, void*) {
    if (!g_backstopSet.exchange(true)) {
        alarm(kBackstopSeconds);
    }
    PosixCrash crash;
    crash.signal = signal;
    crash.address = info != nullptr ? info->si_addr : nullptr;
    crash.frameCount = backtrace(crash.frames, kMaxFrames);
    if (Hook* hook = g_hook.load()) {
        hook->handoff.Crashed(crash);
    }
    EndProcess(crash);
}

// The calling thread's stack for the handler; let go when the thread ends.
class AltStack {
  public:
    AltStack() = default;
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;
    ~AltStack() {
        if (memory_ != nullptr) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
            munmap(memory_, kAltStackSize);
        }
    }
    void Arm() {
        // One the thread has already (the sanitizer runtime gives each of
        // its threads one, and takes it back itself) is kept.
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
            return;
        }
        void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED) {
            return;
        }
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = kAltStackSize;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, kAltStackSize);
            return;
        }
        memory_ = memory;
    }

  private:
    void* memory_ = nullptr;
};

thread_local AltStack t_altStack;

// The writer waits with every signal blocked but the faults (a fault of its
// own still ends the process): stop and screen-saver signals belong to the
// threads that read them.
bool StartWriter(Hook& hook) {
    sigset_t all;
    sigfillset(&all);
    for (int signal : kCrashSignals) {
        sigdelset(&all, signal);
    }
    sigset_t previous;
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        std::thread([&hook] { hook.handoff.Serve(); }).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

}  // namespace

void ArmCrashStack() {
    t_altStack.Arm();
}

int CreateCrashReportFile(const char* path) {
    // A later crash in the same minute replaces the earlier report, as its
    // name says; removing the name first lets the create insist on a new
    // file that only the service can read.
    unlink(path);
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void WriteCrashReport(int fd, int signal, const void* address, void* const* frames,
                      int frameCount) {
    Put(fd, "VTService crashed\nsignal ");
    PutNumber(fd, static_cast<unsigned long>(signal), 10);
    Put(fd, " (");
    Put(fd, SignalName(signal));
    Put(fd, ")\naddress 0x");
    PutNumber(fd, reinterpret_cast<unsigned long>(address), 16);
    Put(fd, "\nbacktrace:\n");
    backtrace_symbols_fd(frames, frameCount, fd);
}

// The hung thread cannot be unwound from here: the report names it and the
// call it is inside.
void PosixCrashHook::Hung(const char* call, const char* thread) {
    const int fd = OpenReport();
    if (fd >= 0) {
        Put(fd, "VTService hung\ncall ");
        Put(fd, call);
        Put(fd, "\nthread ");
        Put(fd, thread);
        Put(fd, "\n");
        close(fd);
    }
    _exit(kHangExitCode);
}

// An empty folder (the service folder could not be prepared) means no
// reports; the signals still end the process as before.
void PosixCrashHook::Install(const std::string& folder) {
    if (g_hook.load() != nullptr) {
        return;  // installed once
    }
    // The first backtrace loads the unwinder, which allocates: do it now,
    // not inside the handler. The time zone is read now for the same reason.
    void* frame[1];
    backtrace(frame, 1);
    tzset();
    ArmCrashStack();
    if (!folder.empty() && folder.size() < sizeof Hook::folder) {
        const int crashed = eventfd(0, EFD_CLOEXEC);
        const int written = eventfd(0, EFD_CLOEXEC);
        if (crashed >= 0 && written >= 0) {
            auto* hook = new Hook(crashed, written, WriteReport, EndProcess);
            memcpy(hook->folder, folder.c_str(), folder.size() + 1);
            g_hook = hook;
            if (!StartWriter(*hook)) {
                g_hook = nullptr;  // no writer: no reports, and no wait either
                delete hook;
            }
        } else {
            for (int fd : {crashed, written}) {
                if (fd >= 0) {
                    close(fd);
                }
            }
        }
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = OnCrashSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kCrashSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (int signal : kCrashSignals) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace vt::platform::posix
