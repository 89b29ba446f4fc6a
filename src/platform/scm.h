// The installer's view of the service manager: open, create, start,
// configure, stop and delete a service, and register the service's event
// log source. Each operation mirrors one manager call (or one registry
// change); failures return false/null and leave the code in LastError().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/service_status.h"

namespace vt::platform {

using ScHandle = void*;

// Access rights, as the service manager defines them.
inline constexpr uint32_t kScManagerConnect = 0x0001;
inline constexpr uint32_t kScManagerCreateService = 0x0002;
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceQueryStatus = 0x0004;
inline constexpr uint32_t kServiceChangeConfig = 0x0002;
inline constexpr uint32_t kServiceStart = 0x0010;
inline constexpr uint32_t kServiceStop = 0x0020;
inline constexpr uint32_t kDelete = 0x00010000;

inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceErrorNormal = 1;

struct ServiceConfig {
    std::wstring name;
    std::wstring displayName;
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    // Passed to the manager as written here; the installer adds the quotes.
    std::wstring binaryPath;
    // The backends pass an empty, doubly terminated dependency list, no
    // load-order group, no tag and no account (LocalSystem).
};

struct FailureActions {
    uint32_t resetPeriodSeconds = 0;
    uint32_t restartCount = 0;    // number of restart actions
    uint32_t restartDelayMs = 0;  // delay of each of them
};

class ServiceControlManager {
  public:
    virtual ScHandle OpenManager(uint32_t access) = 0;
    virtual ScHandle CreateService(ScHandle manager, const ServiceConfig& config,
                                   uint32_t access) = 0;
    virtual ScHandle OpenService(ScHandle manager, const std::wstring& name, uint32_t access) = 0;
    virtual bool StartService(ScHandle service) = 0;
    virtual bool SetDescription(ScHandle service, const std::wstring& description) = 0;
    virtual bool SetFailureActions(ScHandle service, const FailureActions& actions) = 0;
    virtual bool ControlService(ScHandle service, uint32_t control, ServiceStatus& status) = 0;
    virtual bool QueryServiceStatus(ScHandle service, ServiceStatus& status) = 0;
    virtual bool DeleteService(ScHandle service) = 0;
    // The Application log's source key for the service's entries: the file
    // that holds their message table and the entry types it covers.
    virtual bool AddEventSource(const std::wstring& source, const std::wstring& messageFile,
                                uint32_t typesSupported) = 0;
    // Deletes that key; a source that is not registered counts as deleted.
    virtual bool DeleteEventSource(const std::wstring& source) = 0;
    // Makes the product's folder in ProgramData, the data folder in it and
    // the service folder in that the system's, as the service's walk to
    // them at start expects: each is made with a protected descriptor when
    // missing (owner Administrators; users may add and change their own
    // files in the data folder, nothing more), and one a user owns is taken
    // over (owner Administrators, the same descriptor) and its path added
    // to `takenOver`. A reparse point on the path is no folder: false.
    virtual bool SecureDataFolders(std::vector<std::wstring>& takenOver) = 0;
    virtual void CloseHandle(ScHandle handle) = 0;
    // The running program's full path; false when it cannot be had whole.
    virtual bool ModulePath(std::wstring& path) = 0;
    virtual uint32_t LastError() = 0;

  protected:
    ~ServiceControlManager() = default;
};

}  // namespace vt::platform
