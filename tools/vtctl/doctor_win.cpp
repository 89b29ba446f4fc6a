// The Windows installation: the service's registration and process, the
// pipe and its access list, the data folder, the event source, the
// components beside the program and the uninstall entry. Under Wine the
// checks Wine cannot answer (it has no event log service, stores no
// recovery actions and enforces no access lists) say so instead of passing.
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>
#include <winevt.h>

#include <memory>
#include <vector>

#include "common/service_event.h"
#include "common/user_file.h"
#include "doctor.h"
#include "oled/job_file.h"
#include "service/installer.h"

namespace vtctl {

namespace {

constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\twvtservicepipe";
constexpr wchar_t kDataFolder[] = L"C:\\ProgramData\\Tarnwick\\Veltrace";
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VTService";
constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VTService";
constexpr char kWine[] = "Wine";

// SYSTEM, Administrators, TrustedInstaller: the owners a system folder has.
constexpr const wchar_t* kSystemOwners[] = {
    L"S-1-5-18", L"S-1-5-32-544",
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
constexpr wchar_t kAuthenticatedUsers[] = L"S-1-5-11";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kSystem[] = L"S-1-5-18";

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
    if (!out.empty()) {
        out.pop_back();
    }
    return out;
}

std::string Error(DWORD error) {
    return "error " + std::to_string(error);
}

// Wine's ntdll has an export of its own; Windows' has not.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ThisFolder() {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring p(path, n);
    const size_t cut = p.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring(L".") : p.substr(0, cut);
}

// "major.minor.build.revision" of a file's version resource; empty if none.
std::string FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr) {
        return {};
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) {
        return L"?";
    }
    std::wstring out(text);
    LocalFree(text);
    return out;
}

struct Handles {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~Handles() {
        if (service != nullptr) {
            CloseServiceHandle(service);
        }
        if (manager != nullptr) {
            CloseServiceHandle(manager);
        }
    }
};

template <class T>
std::unique_ptr<T, decltype(&free)> Query(SC_HANDLE service, DWORD level, DWORD& error) {
    DWORD needed = 0;
    QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    std::unique_ptr<T, decltype(&free)> data(static_cast<T*>(malloc(needed ? needed : 1)), &free);
    error = QueryServiceConfig2W(service, level, reinterpret_cast<BYTE*>(data.get()), needed,
                                 &needed)
                ? 0
                : GetLastError();
    return data;
}

void CheckRecovery(DoctorReport& report, SC_HANDLE service, bool wine) {
    const char* check = "its recovery is three restarts, 5 s apart, counted per day";
    DWORD error = 0;
    auto actions = Query<SERVICE_FAILURE_ACTIONSW>(service, SERVICE_CONFIG_FAILURE_ACTIONS, error);
    if (error != 0) {
        if (wine) {
            report.CannotCheck(check, std::string(kWine) + " stores no recovery actions");
        } else {
            report.Fail(check, Error(error), "the recovery actions");
        }
        return;
    }
    std::string found = "reset " + std::to_string(actions->dwResetPeriod) + " s:";
    for (DWORD i = 0; i < actions->cActions; ++i) {
        found += std::string(actions->lpsaActions[i].Type == SC_ACTION_RESTART ? " restart" : " other") +
                 " after " + std::to_string(actions->lpsaActions[i].Delay) + " ms";
    }
    std::string expected = "reset " + std::to_string(vt::service::kRecoveryResetSeconds) + " s:";
    for (uint32_t i = 0; i < vt::service::kRecoveryRestarts; ++i) {
        expected += " restart after " + std::to_string(vt::service::kRecoveryRestartDelayMs) + " ms";
    }
    report.Expect(check, found, expected);
}

// The registration as -install makes it, and the running process.
void CheckService(DoctorReport& report, const std::wstring& program, bool wine) {
    Handles h;
    h.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (h.manager != nullptr) {
        h.service = OpenServiceW(h.manager, vt::kServiceName,
                                 SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    }
    if (h.service == nullptr) {
        report.Fail("the service VTService is registered", Error(GetLastError()), "registered");
        return;
    }
    report.Ok("the service VTService is registered");
    DWORD needed = 0;
    QueryServiceConfigW(h.service, nullptr, 0, &needed);
    std::vector<char> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(h.service, config, static_cast<DWORD>(buffer.size()), &needed)) {
        report.Fail("its registration can be read", Error(GetLastError()), "readable");
        return;
    }
    report.Expect("its display name", Narrow(config->lpDisplayName),
                  Narrow(vt::service::kDisplayName));
    report.Expect("it runs in its own process",
                  config->dwServiceType == SERVICE_WIN32_OWN_PROCESS ? "own process"
                                                                     : std::to_string(config->dwServiceType),
                  "own process");
    report.Expect("it starts automatically",
                  config->dwStartType == SERVICE_AUTO_START ? "automatic"
                                                            : std::to_string(config->dwStartType),
                  "automatic");
    report.Expect("it runs as LocalSystem", Narrow(config->lpServiceStartName ? config->lpServiceStartName : L""),
                  "LocalSystem");
    const std::wstring quoted = L"\"" + program + L"\"";
    if (SamePath(config->lpBinaryPathName, quoted)) {
        report.Ok("its path is the installed program's, quoted");
    } else {
        report.Fail("its path is the installed program's, quoted", Narrow(config->lpBinaryPathName),
                    Narrow(quoted));
    }
    CheckRecovery(report, h.service, wine);

    SERVICE_STATUS_PROCESS status{};
    if (!QueryServiceStatusEx(h.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) ||
        status.dwCurrentState != SERVICE_RUNNING) {
        report.Fail("the service is running", "state " + std::to_string(status.dwCurrentState),
                    "running (4)");
        return;
    }
    report.Ok("the service is running");
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const bool named = process != nullptr && QueryFullProcessImageNameW(process, 0, image, &size);
    const DWORD error = GetLastError();
    if (process != nullptr) {
        CloseHandle(process);
    }
    if (!named) {
        report.CannotCheck("its process is the installed program",
                           error == ERROR_ACCESS_DENIED ? "needs an administrator" : Error(error));
    } else if (SamePath(image, program)) {
        report.Ok("its process is the installed program");
    } else {
        report.Fail("its process is the installed program", Narrow(image), Narrow(program));
    }
}

// The pipe's access list as applied: users read and write without the
// right to add an instance, administrators everything, nobody else.
void CheckPipeAccess(DoctorReport& report, bool wine) {
    const char* check = "the pipe's access list: users read and write (no new instance), administrators all";
    if (wine) {
        report.CannotCheck(check, std::string(kWine) + " enforces no pipe access list");
        return;
    }
    HANDLE pipe = CreateFileW(kPipe, READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        report.Fail(check, "the pipe could not be opened: " + Error(GetLastError()), "an open pipe");
        return;
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD error = GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr, &sd);
    CloseHandle(pipe);
    if (error != ERROR_SUCCESS || dacl == nullptr) {
        report.Fail(check, error != ERROR_SUCCESS ? Error(error) : "no access list", "an access list");
        LocalFree(sd);
        return;
    }
    std::string wrong;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) {
            continue;
        }
        const std::wstring who = SidText(&ace->SidStart);
        const ACCESS_MASK mask = ace->Mask;
        const bool allowed = ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE;
        bool good = false;
        if (allowed && who == kAuthenticatedUsers) {
            good = (mask & (FILE_READ_DATA | FILE_WRITE_DATA)) == (FILE_READ_DATA | FILE_WRITE_DATA) &&
                   (mask & (FILE_CREATE_PIPE_INSTANCE | GENERIC_WRITE | GENERIC_ALL |
                            WRITE_DAC | WRITE_OWNER)) == 0;
        } else if (allowed && who == kAdministrators) {
            good = (mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS || (mask & GENERIC_ALL) != 0;
        }
        if (!good) {
            char text[32];
            std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(mask));
            wrong += (wrong.empty() ? "" : ", ") + Narrow(who) + (allowed ? " allowed " : " type ") + text;
        }
    }
    LocalFree(sd);
    if (wrong.empty()) {
        report.Ok(check);
    } else {
        report.Fail(check, wrong, "only S-1-5-11 read/write and S-1-5-32-544 all");
    }
}

// Owner SID text and attributes of a path opened without following a
// reparse point; false with `error` when it cannot be opened.
bool Inspect(const std::wstring& path, std::wstring& owner, DWORD& attributes, PACL* dacl,
             PSECURITY_DESCRIPTOR* sd, DWORD& error) {
    HANDLE h = CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(h, &info);
    attributes = info.dwFileAttributes;
    PSID sid = nullptr;
    PSECURITY_DESCRIPTOR local = nullptr;
    error = GetSecurityInfo(h, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | (dacl ? DACL_SECURITY_INFORMATION : 0),
                            &sid, nullptr, dacl, nullptr, &local);
    CloseHandle(h);
    owner = error == ERROR_SUCCESS ? SidText(sid) : L"?";
    if (sd != nullptr) {
        *sd = local;
    } else {
        LocalFree(local);
    }
    return true;
}

bool SystemOwner(const std::wstring& sid) {
    for (const wchar_t* s : kSystemOwners) {
        if (sid == s) {
            return true;
        }
    }
    return false;
}

void CheckDataFolder(DoctorReport& report, bool wine) {
    const std::wstring folder = kDataFolder;
    const char* check = "the path to C:\\ProgramData\\Tarnwick\\Veltrace: real folders owned by the system";
    std::string wrong;
    bool ownersKnown = true;
    for (size_t at = folder.find(L'\\'); ; at = folder.find(L'\\', at + 1)) {
        const std::wstring level =
            at == std::wstring::npos ? folder : folder.substr(0, at == 2 ? 3 : at);
        std::wstring owner;
        DWORD attributes = 0;
        DWORD error = 0;
        if (!Inspect(level, owner, attributes, nullptr, nullptr, error)) {
            wrong = Narrow(level) + ": " + Error(error);
            break;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            wrong = Narrow(level) + " is a reparse point";
            break;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            wrong = Narrow(level) + " is not a folder";
            break;
        }
        if (!SystemOwner(owner)) {
            if (wine) {
                ownersKnown = false;  // Wine gives every file its user as owner
            } else {
                wrong = Narrow(level) + " is owned by " + Narrow(owner);
                break;
            }
        }
        if (at == std::wstring::npos) {
            break;
        }
    }
    if (!wrong.empty()) {
        report.Fail(check, wrong, "real folders owned by SYSTEM, Administrators or TrustedInstaller");
    } else if (!ownersKnown) {
        report.CannotCheck(check, std::string(kWine) + " keeps no owners; no level is a reparse point");
    } else {
        report.Ok(check);
    }

    const std::wstring dumps = folder + L"\\service_dmp";
    const char* dumpCheck = "service_dmp: a folder of the system's, only SYSTEM and administrators";
    std::wstring owner;
    DWORD attributes = 0;
    DWORD error = 0;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!Inspect(dumps, owner, attributes, &dacl, &sd, error)) {
        report.Fail(dumpCheck, Error(error), "the folder");
    } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
               FILE_ATTRIBUTE_DIRECTORY) {
        report.Fail(dumpCheck, "not a plain folder", "a plain folder");
    } else if (wine) {
        report.CannotCheck(dumpCheck, std::string(kWine) + " keeps no owners or access lists");
    } else {
        std::string wrong2 = SystemOwner(owner) ? "" : "owner " + Narrow(owner);
        for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            if (GetAce(dacl, i, reinterpret_cast<void**>(&ace))) {
                const std::wstring who = SidText(&ace->SidStart);
                if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && who != kSystem &&
                    who != kAdministrators) {
                    wrong2 += (wrong2.empty() ? "" : ", ") + std::string("allowed ") + Narrow(who);
                }
            }
        }
        if (dacl == nullptr) {
            wrong2 = "no access list (everyone may)";
        }
        if (wrong2.empty()) {
            report.Ok(dumpCheck);
        } else {
            report.Fail(dumpCheck, wrong2, "owned by the system, allowed SYSTEM and administrators only");
        }
    }
    LocalFree(sd);

    for (const wchar_t* name : {vt::oled::kJobFileNameW, L"localdevice.ini"}) {
        const std::wstring path = folder + L"\\" + name;
        const std::string check2 = Narrow(name) + ": absent, or a plain file within the size limit";
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            report.Ok(check2);
            continue;
        }
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
            report.Fail(check2, "a folder or a reparse point", "a plain file");
        } else if (size > vt::kUserFileLimit) {
            report.Fail(check2, std::to_string(size) + " bytes",
                        "at most " + std::to_string(vt::kUserFileLimit) + " bytes");
        } else {
            report.Ok(check2);
        }
    }
}

// A text value, in this program's registry view.
std::wstring RegistryText(const wchar_t* key, const wchar_t* value) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return L"(no key)";
    }
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    const LSTATUS status = RegGetValueW(handle, nullptr, value,
                                        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                        nullptr, data, &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? std::wstring(data) : std::wstring(L"(no value)");
}

void CheckEventSource(DoctorReport& report, const std::wstring& program, bool wine) {
    const std::wstring file = RegistryText(kEventSourceKey, L"EventMessageFile");
    if (SamePath(file, program)) {
        report.Ok("the event source VTService names the installed program");
    } else {
        report.Fail("the event source VTService names the installed program", Narrow(file),
                    Narrow(program));
    }
    const char* check = "the newest entry reads as its text in the Application log";
    if (wine) {
        report.CannotCheck(check, std::string(kWine) + " has no event log service");
        return;
    }
    EVT_HANDLE query = EvtQuery(nullptr, L"Application",
                                L"*[System[Provider[@Name='VTService']]]",
                                EvtQueryChannelPath | EvtQueryReverseDirection);
    EVT_HANDLE event = nullptr;
    DWORD returned = 0;
    if (query == nullptr || !EvtNext(query, 1, &event, 2000, 0, &returned) || returned == 0) {
        report.Fail(check, "no entry of VTService", "an entry");
        if (query != nullptr) {
            EvtClose(query);
        }
        return;
    }
    EVT_HANDLE publisher = EvtOpenPublisherMetadata(nullptr, vt::kServiceName, nullptr, 0, 0);
    wchar_t text[2048] = {};
    DWORD used = 0;
    const bool formatted = publisher != nullptr &&
                           EvtFormatMessage(publisher, event, 0, 0, nullptr, EvtFormatMessageEvent,
                                            2048, text, &used);
    const DWORD error = GetLastError();
    if (publisher != nullptr) {
        EvtClose(publisher);
    }
    EvtClose(event);
    EvtClose(query);
    const std::wstring shown(text);
    if (formatted && shown.rfind(vt::kServiceName, 0) == 0) {
        report.Ok(check);
    } else {
        report.Fail(check, formatted ? Narrow(shown) : Error(error),
                    "\"VTService\" and the message, one per line");
    }
}

void CheckUninstallEntry(DoctorReport& report, const std::wstring& folder) {
    // Looked up in this program's own view, the installer's: the product's
    // 32-bit installer and this 32-bit tool both see the 32-bit view (on
    // 64-bit Windows, Wow6432Node), where the entry has to be for Programs
    // and Features to list a 32-bit program.
    const std::wstring uninstaller = RegistryText(kUninstallKey, L"UninstallString");
    const std::wstring expected = folder + L"\\Uninstall.exe";
    if (SamePath(uninstaller, expected) || SamePath(uninstaller, L"\"" + expected + L"\"")) {
        report.Ok("the uninstall entry, in the installer's registry view");
    } else {
        report.Fail("the uninstall entry, in the installer's registry view", Narrow(uninstaller),
                    Narrow(expected));
    }
}

}  // namespace

std::string CheckComponent(const std::string& folder, const std::string& file,
                           const std::vector<std::string>& exports) {
    const std::string path = folder + "\\" + file;
    const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
    if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return path + ": " + Error(GetLastError());
    }
    if (exports.empty()) {
        return "";
    }
    // Its own dependencies from its own folder, never the current one.
    HMODULE library = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        return "not loadable: " + Error(GetLastError());
    }
    return MissingExports(exports, [&](const char* name) {
        return reinterpret_cast<void*>(GetProcAddress(library, name));
    });
}

int RunDoctor(const AskPipe& ask, FILE* out) {
    DoctorReport report(out);
    const bool wine = UnderWine();
    // The installer puts this tool beside the service.
    const std::wstring folder = ThisFolder();
    const std::wstring program = folder + L"\\VTService.exe";
    BOOL admin = FALSE;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators)) {
        CheckTokenMembership(nullptr, administrators, &admin);
        FreeSid(administrators);
    }
    if (!admin) {
        std::fprintf(out, "# not run as an administrator: a check that needs it says so\n");
    }
    CheckService(report, program, wine);
    CheckPipe(report, ask, PipeVersionOf(FileVersion(program)));
    CheckPipeAccess(report, wine);
    CheckDataFolder(report, wine);
    CheckEventSource(report, program, wine);
    CheckComponents(report, Narrow(folder));
    CheckUninstallEntry(report, folder);
    return report.Finish();
}

}  // namespace vtctl
