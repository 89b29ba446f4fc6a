// The Windows implementations of the platform interfaces.
#pragma once

#include "platform/platform.h"

namespace vt::platform::win32 {

class WinClock final : public Clock {
  public:
    uint32_t TickCount() override;
    uint64_t TickCount64() override;
    void Sleep(uint32_t milliseconds) override;
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
    void CloseHandle(ScHandle handle) override;
    bool ModulePath(std::wstring& path) override;
    uint32_t LastError() override;
};

class WinThreads final : public Threads {
  public:
    std::unique_ptr<Event> CreateManualResetEvent() override;
    bool QueueLongRunning(WorkFunction fn, void* context) override;
    uint32_t LastError() override;
};

class WinProcesses final : public Processes {
  public:
    bool Terminate(ProcessHandle process, uint32_t exitCode) override;
};

class WinConsole final : public Console {
  public:
    void Print(std::wstring_view text) override;
};

class WinFolders final : public Folders {
  public:
    std::string DataFolder() override;
    std::string ProgramFolder() override;
    char Separator() override;
};

class WinLibraries final : public Libraries {
  public:
    std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    std::unique_ptr<DynamicLibrary> LoadFromCurrentFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const LibraryName& name) override;
};

class WinPipes final : public Pipes {
  public:
    std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, uint32_t& error) override;
};

}  // namespace vt::platform::win32
