// The Linux implementations of the platform interfaces.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/platform.h"

namespace vt::platform::posix {

class PosixClock final : public Clock {
  public:
    uint32_t TickCount() override;
    uint64_t TickCount64() override;
    void Sleep(uint32_t milliseconds) override;
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

class PosixThreads final : public Threads {
  public:
    std::unique_ptr<Event> CreateManualResetEvent() override;
    bool QueueLongRunning(WorkFunction fn, void* context) override;
    uint32_t LastError() override;
};

class PosixProcesses final : public Processes {
  public:
    bool Terminate(ProcessHandle process, uint32_t exitCode) override;
};

class PosixConsole final : public Console {
  public:
    void Print(std::wstring_view text) override;
};

// The data folder is VTSERVICE_DATA_DIR when set, else /var/lib/vtservice.
class PosixFolders final : public Folders {
  public:
    std::string DataFolder() override;
    std::string ProgramFolder() override;
    char Separator() override;
};

class PosixLibraries final : public Libraries {
  public:
    std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    std::unique_ptr<DynamicLibrary> LoadFromCurrentFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const LibraryName& name) override;
};

// The pipe as a Unix stream socket named after the pipe's last component,
// in the run folder (VTSERVICE_RUN_DIR, default /run/vtservice).
class PosixPipes final : public Pipes {
  public:
    std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, uint32_t& error) override;
};

std::string RunFolder();
// The executable's folder with its trailing '/', or empty.
std::string ProgramFolderWithSeparator();

// SIGTERM and SIGINT are taken synchronously by the dispatcher; every thread
// must have them blocked, so this runs first in main, before any thread.
void BlockStopSignals();

}  // namespace vt::platform::posix
