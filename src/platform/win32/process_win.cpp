#include <windows.h>
// After windows.h:
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <string>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinProcesses final : public Processes {
  public:
    bool Terminate(ProcessHandle process, uint32_t exitCode) override;
    bool ProgramRuns(const std::string& fileName) override;
    std::string FileName(const ProgramName& program) override;
    ProcessHandle LaunchInUserSession(const std::string& path) override;
    void Release(ProcessHandle process) override;
    void EndThisProcess(uint32_t exitCode) override;
};

namespace {

std::string ToUtf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

}  // namespace

// The first session in the active state, 0 when there is none or the
// sessions cannot be listed. Session 0 is the services' own: to the caller
// 0 means no user to start anything for.
DWORD FindActiveSessionId() {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        return 0;
    }
    DWORD id = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (sessions[i].State == WTSActive) {
            id = sessions[i].SessionId;
            break;
        }
    }
    ::WTSFreeMemory(sessions);
    return id;
}

// Starts `path` (ANSI code page) as the console user, in that user's
// session, environment and interactive desktop. Null when nothing started.
HANDLE LaunchInUserSession(const std::string& path) {
    const DWORD session = FindActiveSessionId();
    if (session == 0) {
        return nullptr;
    }
    HANDLE token = nullptr;
    if (!::WTSQueryUserToken(session, &token)) {
        return nullptr;
    }
    void* environment = nullptr;
    if (!::CreateEnvironmentBlock(&environment, token, TRUE)) {
        ::CloseHandle(token);
        return nullptr;
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);

    const int length = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

    const BOOL created =
        ::CreateProcessAsUserW(token, wide.c_str(), nullptr, nullptr, nullptr, FALSE,
                               CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS, environment,
                               nullptr, &startup, &process);
    ::DestroyEnvironmentBlock(environment);
    ::CloseHandle(token);
    if (!created) {
        return nullptr;
    }
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

bool WinProcesses::Terminate(ProcessHandle process, uint32_t exitCode) {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exitCode) != FALSE;
}

bool WinProcesses::ProgramRuns(const std::string& fileName) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (bool more = ::Process32FirstW(snapshot, &entry) != FALSE; more && !found;
         more = ::Process32NextW(snapshot, &entry) != FALSE) {
        found = ToUtf8(entry.szExeFile) == fileName;
    }
    ::CloseHandle(snapshot);
    return found;
}

std::string WinProcesses::FileName(const ProgramName& program) {
    return program.windows;
}

ProcessHandle WinProcesses::LaunchInUserSession(const std::string& path) {
    HANDLE process = win32::LaunchInUserSession(path);
    return process == nullptr ? kNoProcess : reinterpret_cast<ProcessHandle>(process);
}

void WinProcesses::Release(ProcessHandle process) {
    ::CloseHandle(reinterpret_cast<HANDLE>(process));
}

// Not ExitProcess: it runs every library's DLL_PROCESS_DETACH under the
// loader lock, and a library whose call never returned may hold that lock or
// wait in its detach code for the thread stuck inside it. TerminateProcess
// on this process runs no detach code.
void WinProcesses::EndThisProcess(uint32_t exitCode) {
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
}

Processes& SystemProcesses() {
    static WinProcesses processes;
    return processes;
}

}  // namespace vt::platform::win32
