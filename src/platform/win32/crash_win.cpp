// The crash hook of the Windows service: an unhandled-exception filter that
// writes a minidump named after the local time, then lets the process end
// without the system's error dialog.
#include <windows.h>
// After windows.h:
#include <dbghelp.h>

#include <cstring>
#include <ctime>
#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

// Filled once by Install, read only by the filter.
char g_folder[MAX_PATH];

}  // namespace

// Every step fails silently: without a folder or a file there is no dump,
// and the process ends all the same. The folder is the service's own,
// prepared and held since the start: nothing is created here but the dump.
LONG WINAPI WriteCrashDump(EXCEPTION_POINTERS* exception) {
    const std::string folder = g_folder;
    if (folder.empty()) {
        return EXCEPTION_EXECUTE_HANDLER;
    }
    const __time64_t now = _time64(nullptr);
    struct tm local;
    if (_localtime64_s(&local, &now) == 0) {
        const CrashTime when{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min};
        char name[64];
        if (FormatCrashFileName(when, ".dmp", name, sizeof name) != 0) {
            HANDLE file = CreateDumpFileWith(SystemFileApi(), FromAnsi(folder + name));
            if (file != INVALID_HANDLE_VALUE) {
                MINIDUMP_EXCEPTION_INFORMATION info;
                info.ThreadId = ::GetCurrentThreadId();
                info.ExceptionPointers = exception;
                info.ClientPointers = TRUE;
                ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file,
                                    MiniDumpNormal, &info, nullptr, nullptr);
                ::CloseHandle(file);
            }
        }
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

void WinCrashHook::Install(const std::string& folder) {
    if (folder.size() >= sizeof g_folder) {
        return;
    }
    memcpy(g_folder, folder.c_str(), folder.size() + 1);
    ::SetUnhandledExceptionFilter(WriteCrashDump);
}

}  // namespace vt::platform::win32
