// The Windows implementations of the platform interfaces.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

struct IEventSystem;  // the COM event system, eventsys.h

namespace vt::platform::win32 {

class WinClock final : public Clock {
  public:
    uint32_t TickCount() override;
    uint64_t TickCount64() override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t LocalTimeMs() override;
};

class WinEventLog final : public EventLog {
  public:
    void Write(const EventRecord& record) override;
};

class WinServiceHost final : public ServiceHost {
  public:
    bool RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;
    StatusHandle RegisterControlHandler(const wchar_t* serviceName,
                                        ControlHandlerFunction handler) override;
    bool SetStatus(StatusHandle handle, const ServiceStatus& status) override;
    uint32_t LastError() override;
};

class WinScm final : public ServiceControlManager {
  public:
    ScHandle OpenManager(uint32_t access) override;
    ScHandle CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access) override;
    ScHandle OpenService(ScHandle manager, const std::wstring& name, uint32_t access) override;
    bool StartService(ScHandle service) override;
    bool SetDescription(ScHandle service, const std::wstring& description) override;
    bool SetFailureActions(ScHandle service, const FailureActions& actions) override;
    bool ControlService(ScHandle service, uint32_t control, ServiceStatus& status) override;
    bool QueryServiceStatus(ScHandle service, ServiceStatus& status) override;
    bool DeleteService(ScHandle service) override;
    bool AddEventSource(const std::wstring& source, const std::wstring& messageFile,
                        uint32_t typesSupported) override;
    bool DeleteEventSource(const std::wstring& source) override;
    bool SecureDataFolders(std::vector<std::wstring>& takenOver) override;
    void CloseHandle(ScHandle handle) override;
    bool ModulePath(std::wstring& path) override;
    uint32_t LastError() override;
};

// A manual-reset or auto-reset event; its handle can also be waited on
// together with others (the pipe's stop, a work item's wake-up).
class WinEvent final : public Event {
  public:
    explicit WinEvent(void* handle) : handle_(handle) {}  // takes ownership
    ~WinEvent() override;
    WinEvent(const WinEvent&) = delete;
    WinEvent& operator=(const WinEvent&) = delete;

    void Set() override;
    uint32_t Wait(uint32_t milliseconds) override;
    void* handle() const { return handle_; }

  private:
    void* handle_;
};

class WinThreads final : public Threads {
  public:
    std::unique_ptr<Event> CreateManualResetEvent() override;
    std::unique_ptr<Event> CreateAutoResetEvent() override;
    uint32_t WaitForEither(Event& first, Event& second, uint32_t milliseconds) override;
    bool QueueLongRunning(WorkFunction fn, void* context) override;
    bool StartThread(WorkFunction fn, void* context) override;
    void NameCurrentThread(const char* name) override;
    uint32_t LastError() override;
};

class WinProcesses final : public Processes {
  public:
    bool Terminate(ProcessHandle process, uint32_t exitCode) override;
    bool ProgramRuns(const std::string& fileName) override;
    std::string FileName(const ProgramName& program) override;
    ProcessHandle LaunchInUserSession(const std::string& path) override;
    void Release(ProcessHandle process) override;
    void EndThisProcess(uint32_t exitCode) override;
};

class WinCrashHook final : public CrashHook {
  public:
    void Install(const std::string& folder) override;
    void Hung(const char* call, const char* thread) override;
};

class WinConsole final : public Console {
  public:
    void Print(std::wstring_view text) override;
};

class TWISensLogon;

// The two screen-saver subscriptions in the COM event system, delivered to
// one TWISensLogon sink; COM is initialised for the multithreaded apartment
// on the subscribing thread.
class WinScreenSaverEvents final : public ScreenSaverEvents {
  public:
    ~WinScreenSaverEvents();
    bool Subscribe(ScreenSaverSink& sink) override;
    void Unsubscribe() override;

  private:
    bool comInitialised_ = false;
    ::IEventSystem* eventSystem_ = nullptr;
    TWISensLogon* sink_ = nullptr;
};

// The service folder, once prepared, is held open until the process ends.
class WinFolders final : public Folders {
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
    // be closed) or a fresh handle the caller closes; INVALID_HANDLE_VALUE
    // with `error`.
    void* HeldFolder(const std::wstring& folder, uint32_t& error, bool& shared);
    void* Account();

    void* held_ = nullptr;  // the service folder's handle
    std::string serviceFolder_;
    std::mutex dataMutex_;
    void* data_ = nullptr;  // the data folder's handle, once walked
    std::vector<unsigned char> user_;  // the service's account, TOKEN_USER
};

// The probe always measures the product's address here.
class WinIcmp final : public Icmp {
  public:
    std::unique_ptr<IcmpSocket> Open() override;
    uint32_t ParseAddress(const std::string& text) override;
    std::string ProbeTarget(const std::string& productAddress) override;
    uint32_t ProcessId() override;
};

class WinLibraries final : public Libraries {
  public:
    std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    std::unique_ptr<DynamicLibrary> LoadFromSystemFolder(const LibraryName& name,
                                                         uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const LibraryName& name) override;
};

// The pipe's instances, all created at once and served from one thread
// with overlapped I/O.
class WinPipes final : public Pipes {
  public:
    std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, Event& stop,
                                               uint32_t& error) override;
};

// The open and pipe modes instance `index` (0 the first) is created with:
// the first-instance flag on the first only, overlapped on all.
struct PipeInstanceModes {
    uint32_t openMode;
    uint32_t pipeMode;
};
PipeInstanceModes InstanceModes(const PipeSpec& spec, uint32_t index);

}  // namespace vt::platform::win32
