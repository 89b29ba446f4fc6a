// The Windows implementations of the platform interfaces.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vt::platform::win32 {

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

// The pipe's instances, all created at once and served from one thread
// with overlapped I/O.
class WinPipes final : public Pipes {
  public:
    std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, Event& stop,
                                               uint32_t& error) override;
};

// The process's one object of each backend no test builds itself, for
// System(); their classes are declared where they are implemented.
Clock& SystemClock();
EventLog& SystemEventLog();
ServiceHost& SystemServiceHost();
ServiceControlManager& SystemScm();
Processes& SystemProcesses();
CrashHook& SystemCrashHook();
Console& SystemConsole();
ScreenSaverEvents& SystemScreenSaverEvents();
Icmp& SystemIcmp();
Libraries& SystemLibraries();

// The open and pipe modes instance `index` (0 the first) is created with:
// the first-instance flag on the first only, overlapped on all.
struct PipeInstanceModes {
    uint32_t openMode;
    uint32_t pipeMode;
};
PipeInstanceModes InstanceModes(const PipeSpec& spec, uint32_t index);

}  // namespace vt::platform::win32
