// The Linux implementations of the platform interfaces.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace vt::platform::posix {

class PosixClock final : public Clock {
  public:
    uint32_t TickCount() override;
    uint64_t TickCount64() override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t LocalTimeMs() override;
};

// syslog under the record's source as ident, or, when the environment
// variable VTSERVICE_EVENTLOG_FILE names a file, one tab-separated line per
// record appended to it (type, category, event id, source, strings), so tests
// can read the entries back.
class PosixEventLog final : public EventLog {
  public:
    void Write(const EventRecord& record) override;
};

// Runs the service's main on a thread of its own and turns SIGTERM and
// SIGINT into the stop control. As under a service manager, a stop that
// arrives while the service is still starting is held until it reports
// running (or is dropped when the start fails).
class PosixServiceHost final : public ServiceHost {
  public:
    bool RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;
    StatusHandle RegisterControlHandler(const wchar_t* serviceName,
                                        ControlHandlerFunction handler) override;
    bool SetStatus(StatusHandle handle, const ServiceStatus& status) override;
    uint32_t LastError() override;

  private:
    void Wake();
    void CloseFds(int signalFd);

    std::mutex mutex_;
    ControlHandlerFunction handler_ = nullptr;
    uint32_t state_ = kServiceStartPending;
    bool mainReturned_ = false;
    int wakeFd_ = -1;
};

// An event on an eventfd. Set makes the descriptor readable; a manual-reset
// event is never read, so it stays readable for good and poll() can wait on
// it together with other descriptors (the pipe's stop). An auto-reset event
// is read (cleared) by the wait it ends.
class PosixEvent final : public Event {
  public:
    // Takes ownership of `fd` (non-blocking).
    PosixEvent(int fd, bool autoReset) : fd_(fd), autoReset_(autoReset) {}
    ~PosixEvent() override;
    PosixEvent(const PosixEvent&) = delete;
    PosixEvent& operator=(const PosixEvent&) = delete;

    void Set() override;
    uint32_t Wait(uint32_t milliseconds) override;
    int fd() const { return fd_; }
    // After poll() found the descriptor readable: false when another wait
    // cleared the auto-reset event first.
    bool Take();

  private:
    int fd_;
    bool autoReset_;
};

class PosixThreads final : public Threads {
  public:
    std::unique_ptr<Event> CreateManualResetEvent() override;
    std::unique_ptr<Event> CreateAutoResetEvent() override;
    uint32_t WaitForEither(Event& first, Event& second, uint32_t milliseconds) override;
    bool QueueLongRunning(WorkFunction fn, void* context) override;
    bool StartThread(WorkFunction fn, void* context) override;
    void NameCurrentThread(const char* name) override;
    uint32_t LastError() override;
};

// Processes are looked for in /proc under the short name the kernel keeps;
// the process found last is looked at first, so while the program runs a
// look reads one file, not one per process. Started programs are this
// process's children; each is reaped once it ended or was ended, so none
// lingers as a zombie.
class PosixProcesses final : public Processes {
  public:
    bool Terminate(ProcessHandle process, uint32_t exitCode) override;
    bool ProgramRuns(const std::string& fileName) override;
    std::string FileName(const ProgramName& program) override;
    ProcessHandle LaunchInUserSession(const std::string& path) override;
    void Release(ProcessHandle process) override;
    void EndThisProcess(uint32_t exitCode) override;

  private:
    void ReapEnded();

    std::mutex mutex_;
    std::set<pid_t> children_;
    std::atomic<pid_t> lastFound_{0};
};

// The name and state letter of one /proc/<pid>/stat line.
struct ProcStat {
    std::string name;
    char state;
};
std::optional<ProcStat> ParseProcStat(const std::string& stat);

// Writes a report into the folder `Install` was given when a fatal signal
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) arrives, then lets the signal
// end the process, within ten seconds whatever the writer does. The folder
// is the service's own, prepared at start; the writer creates nothing but
// the report. The handler runs on the thread's alternate stack: the
// installing thread gets one, and so must every thread the service starts
// (ArmCrashStack).
class PosixCrashHook final : public CrashHook {
  public:
    void Install(const std::string& folder) override;
    void Hung(const char* call, const char* thread) override;
};

// Gives the calling thread a stack of its own for the crash handler, so a
// stack overflow on it still leaves a report; let go when the thread ends.
// A thread that has one already keeps it. Threads the device library starts
// itself cannot be given one: an overflow there ends the process without a
// report.
void ArmCrashStack();

// Creates the report file `path` afresh, mode 0600: an earlier entry of
// that name (an older report, or a link) is removed, never written
// through. -1 on failure.
int CreateCrashReportFile(const char* path);
// The crash report: the signal, the faulting address and the crashed
// thread's frames, symbolised, as text into `fd`.
void WriteCrashReport(int fd, int signal, const void* address, void* const* frames, int frameCount);

// Opens the folder at the absolute `path` (O_PATH) by a walk from '/' that
// follows no link and trusts no folder above the last that another user
// controls (see folder_walk_posix.cpp). -1 with `error` (ELOOP: a link on
// the way, EPERM: a folder others control, or the errno of the open).
int OpenFolderByWalk(const std::string& path, uint32_t& error);

// The data folder is VTSERVICE_DATA_DIR when set, else /var/lib/vtservice.
// It is reached once by OpenFolderByWalk and held; the service folder in
// it and the files read from it are opened relative to the held folder.
// The service folder, once prepared, stays open until the process ends and
// is reached through /proc/self/fd.
class PosixFolders final : public Folders {
  public:
    std::string DataFolder() override;
    bool SharedDataFolder(std::string& folder) override;
    std::string ProgramFolder() override;
    char Separator() override;
    UserFile ReadUserFile(const std::string& path, size_t limit, std::string& content) override;
    bool PrepareServiceFolder(const std::string& folder, uint32_t& error) override;
    std::string ServiceFolder() override;

  private:
    // `folder` opened by the walk: the held data folder (`shared`, never to
    // be closed) or a fresh descriptor the caller closes. -1 with `error`.
    int HeldFolder(const std::string& folder, uint32_t& error, bool& shared);

    std::string serviceFolder_;
    std::mutex dataMutex_;
    int dataFd_ = -1;
};

// A raw ICMP socket (root or CAP_NET_RAW). VTSERVICE_PROBE_TARGET, when set,
// replaces the address the latency probe measures.
class PosixIcmp final : public Icmp {
  public:
    std::unique_ptr<IcmpSocket> Open() override;
    uint32_t ParseAddress(const std::string& text) override;
    std::string ProbeTarget(const std::string& productAddress) override;
    uint32_t ProcessId() override;
};

// SIGUSR1 is the screen saver starting, SIGUSR2 stopping: the desktop's
// screen-saver watcher (or a test) sends them to the service process. A
// thread of its own reads them from a signalfd and calls the sink.
class PosixScreenSaverEvents final : public ScreenSaverEvents {
  public:
    ~PosixScreenSaverEvents();
    bool Subscribe(ScreenSaverSink& sink) override;
    void Unsubscribe() override;

  private:
    void Deliver(ScreenSaverSink& sink);
    void CloseFds();

    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

// The pipe as a Unix stream socket named after the pipe's last component,
// in the run folder (VTSERVICE_RUN_DIR, default /run/vtservice), its
// clients served with poll(): as many connected at once as the PipeSpec has
// instances, further ones wait in the listen queue.
class PosixPipes final : public Pipes {
  public:
    std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, Event& stop,
                                               uint32_t& error) override;
};

// The process's one console and one library loader, for System(); their
// classes are declared where they are implemented.
Console& SystemConsole();
Libraries& SystemLibraries();

std::string RunFolder();
// Milliseconds of the monotonic clock, for the backends' own deadlines.
uint64_t MonotonicMs();
// The folder of the running executable with a trailing '/'; empty when it
// cannot be read.
std::string ExecutableFolder();

// SIGTERM and SIGINT are taken synchronously by the dispatcher; every thread
// must have them blocked, so this runs first in main, before any thread.
void BlockStopSignals();

}  // namespace vt::platform::posix
