#include <windows.h>

#include "platform/win32/files_win.h"
#include "platform/win32/status_win.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

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

namespace {

SC_HANDLE Sc(ScHandle handle) {
    return static_cast<SC_HANDLE>(handle);
}

constexpr DWORD kModulePathChars = MAX_PATH;

std::wstring EventSourceKey(const std::wstring& source) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
}

// The registry calls return their code instead of setting the last error;
// LastError() reads it from there like every other failure.
bool Report(LSTATUS status) {
    ::SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

}  // namespace

ScHandle WinScm::OpenManager(uint32_t access) {
    return ::OpenSCManagerW(nullptr, nullptr, access);
}

ScHandle WinScm::CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access) {
    // An empty dependency list is an empty, doubly terminated string; no
    // load-order group, no tag, no account: the service runs as LocalSystem.
    static const wchar_t kNoDependencies[] = L"\0";
    return ::CreateServiceW(Sc(manager), config.name.c_str(), config.displayName.c_str(), access,
                            config.serviceType, config.startType, config.errorControl,
                            config.binaryPath.c_str(), nullptr, nullptr, kNoDependencies, nullptr,
                            nullptr);
}

ScHandle WinScm::OpenService(ScHandle manager, const std::wstring& name, uint32_t access) {
    return ::OpenServiceW(Sc(manager), name.c_str(), access);
}

bool WinScm::StartService(ScHandle service) {
    return ::StartServiceA(Sc(service), 0, nullptr) != FALSE;
}

bool WinScm::SetDescription(ScHandle service, const std::wstring& description) {
    SERVICE_DESCRIPTIONW info{};
    info.lpDescription = const_cast<LPWSTR>(description.c_str());
    return ::ChangeServiceConfig2W(Sc(service), SERVICE_CONFIG_DESCRIPTION, &info) != FALSE;
}

bool WinScm::SetFailureActions(ScHandle service, const FailureActions& actions) {
    SC_ACTION restart[3];
    const DWORD count = actions.restartCount < 3 ? actions.restartCount : 3;
    for (DWORD i = 0; i < count; ++i) {
        restart[i].Type = SC_ACTION_RESTART;
        restart[i].Delay = actions.restartDelayMs;
    }
    SERVICE_FAILURE_ACTIONSW info{};
    info.dwResetPeriod = actions.resetPeriodSeconds;
    info.lpRebootMsg = nullptr;
    info.lpCommand = nullptr;
    info.cActions = count;
    info.lpsaActions = restart;
    return ::ChangeServiceConfig2W(Sc(service), SERVICE_CONFIG_FAILURE_ACTIONS, &info) != FALSE;
}

bool WinScm::ControlService(ScHandle service, uint32_t control, ServiceStatus& status) {
    SERVICE_STATUS s = ToNative(status);
    const bool ok = ::ControlService(Sc(service), control, &s) != FALSE;
    status = FromNative(s);
    return ok;
}

bool WinScm::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
    SERVICE_STATUS s{};
    if (!::QueryServiceStatus(Sc(service), &s)) {
        return false;
    }
    status = FromNative(s);
    return true;
}

bool WinScm::DeleteService(ScHandle service) {
    return ::DeleteService(Sc(service)) != FALSE;
}

bool WinScm::AddEventSource(const std::wstring& source, const std::wstring& messageFile,
                            uint32_t typesSupported) {
    HKEY key = nullptr;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey(source).c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return Report(status);
    }
    // The log expands the value before loading the file, as it does for the
    // system's own sources.
    const DWORD bytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
    status = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                              reinterpret_cast<const BYTE*>(messageFile.c_str()), bytes);
    if (status == ERROR_SUCCESS) {
        const DWORD types = typesSupported;
        status = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    ::RegCloseKey(key);
    return Report(status);
}

bool WinScm::DeleteEventSource(const std::wstring& source) {
    const LSTATUS status = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey(source).c_str());
    return Report(status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status);
}

namespace {

// Lets an administrator's token take a folder a user owns and denies
// administrators (backup semantics plus these rights open it all the same).
void EnablePrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    ::CloseHandle(token);
}

}  // namespace

bool WinScm::SecureDataFolders(std::vector<std::wstring>& takenOver) {
    EnablePrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnablePrivilege(SE_RESTORE_NAME);
    WinFolders folders;
    const std::wstring data = FromAnsi(folders.DataFolder());
    const std::vector<BYTE> user = ProcessUser();
    PSID installer =
        user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const std::wstring serviceFolderSddl = std::wstring(L"O:BA") + kServiceFolderSddl;
    // Outside in: once a level is the system's, no user can swap the next.
    const struct {
        std::wstring path;
        const wchar_t* sddl;
    } levels[] = {
        {data.substr(0, data.rfind(L'\\')), kProductFolderSddl},
        {data, kDataFolderSddl},
        {data + L"\\service_dmp", serviceFolderSddl.c_str()},
    };
    for (const auto& level : levels) {
        bool taken = false;
        uint32_t error = 0;
        if (!SecureFolder(level.path, level.sddl, installer, taken, error)) {
            ::SetLastError(error);
            return false;
        }
        if (taken) {
            takenOver.push_back(level.path);
        }
    }
    return true;
}

void WinScm::CloseHandle(ScHandle handle) {
    ::CloseServiceHandle(Sc(handle));
}

bool WinScm::ModulePath(std::wstring& path) {
    wchar_t buffer[kModulePathChars];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kModulePathChars);
    if (length == 0) {
        return false;
    }
    // A full buffer means the path was cut: registering it would point the
    // service at a file that does not exist.
    if (length >= kModulePathChars) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    path.assign(buffer, length);
    return true;
}

uint32_t WinScm::LastError() {
    return ::GetLastError();
}

ServiceControlManager& SystemScm() {
    static WinScm scm;
    return scm;
}

}  // namespace vt::platform::win32
