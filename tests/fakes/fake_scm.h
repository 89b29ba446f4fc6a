// An in-memory service manager for the installer. It keeps one registry of
// services, checks the access rights of every handle the way the real one
// does, and counts open handles so a test can see none leaks.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/scm.h"

namespace vt::fakes {

class FakeScm final : public platform::ServiceControlManager {
  public:
    struct Service {
        platform::ServiceConfig config;
        uint32_t state = platform::kServiceStopped;
        std::optional<std::wstring> description;
        std::optional<platform::FailureActions> failureActions;
        int descriptionWrites = 0;
    };

    platform::ScHandle OpenManager(uint32_t access) override;
    platform::ScHandle CreateService(platform::ScHandle manager,
                                     const platform::ServiceConfig& config,
                                     uint32_t access) override;
    platform::ScHandle OpenService(platform::ScHandle manager, const std::wstring& name,
                                   uint32_t access) override;
    bool StartService(platform::ScHandle service) override;
    bool SetDescription(platform::ScHandle service, const std::wstring& description) override;
    bool SetFailureActions(platform::ScHandle service,
                           const platform::FailureActions& actions) override;
    bool ControlService(platform::ScHandle service, uint32_t control,
                        platform::ServiceStatus& status) override;
    bool QueryServiceStatus(platform::ScHandle service, platform::ServiceStatus& status) override;
    bool DeleteService(platform::ScHandle service) override;
    bool AddEventSource(const std::wstring& source, const std::wstring& messageFile,
                        uint32_t typesSupported) override;
    bool DeleteEventSource(const std::wstring& source) override;
    bool SecureDataFolders(std::vector<std::wstring>& takenOver) override;
    void CloseHandle(platform::ScHandle handle) override;
    bool ModulePath(std::wstring& path) override;
    uint32_t LastError() override { return lastError_; }

    // The registry.
    std::map<std::wstring, Service> services;
    struct EventSource {
        std::wstring messageFile;
        uint32_t typesSupported = 0;
    };
    std::map<std::wstring, EventSource> eventSources;
    // The data folders: how many times secured, and what a user owned.
    int dataFoldersSecured = 0;
    std::vector<std::wstring> userFolders;
    uint32_t dataFoldersError = 0;
    // Fault switches and scripted behaviour.
    uint32_t openManagerError = 0;  // e.g. access denied
    std::optional<uint32_t> modulePathError;
    std::wstring modulePath = L"C:\\Program Files\\Tarnwick\\VTService.exe";
    int stopPendingQueries = 0;          // queries that still see STOP_PENDING
    std::optional<int> queryFailsAfter;  // queries that succeed before all fail
    bool stopLeavesStopped = false;      // the stop control answers STOPPED at once
    uint32_t deleteError = 0;
    uint32_t registryError = 0;  // both event source operations fail with it
    // What happened.
    std::vector<uint32_t> managerAccess;
    std::vector<uint32_t> serviceAccess;
    std::vector<uint32_t> createAccess;
    int openHandles = 0;
    int queries = 0;

  private:
    struct Handle {
        bool manager;
        uint32_t access;
        std::wstring name;
    };
    platform::ScHandle NewHandle(bool manager, uint32_t access, const std::wstring& name);
    Handle* Find(platform::ScHandle handle, bool manager);
    // The service behind a service handle that holds `right`; none, and
    // access denied, when it lacks it.
    Service* Granted(platform::ScHandle handle, uint32_t right);
    bool Fail(uint32_t error);

    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x100;
    uint32_t lastError_ = 0;
};

}  // namespace vt::fakes
