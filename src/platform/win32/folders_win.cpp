#include <windows.h>

#include <cwchar>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

// Fixed, not looked up: the desktop application writes the job file to this
// very path whatever the system's folder settings say.
std::string WinFolders::DataFolder() {
    return "C:\\ProgramData\\Tarnwick\\Veltrace";
}

// Closed components get their folder as ANSI text. A path without any
// backslash is taken whole.
std::string WinFolders::ProgramFolder() {
    wchar_t path[512] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 512);
    if (length == 0 || length >= 512) {
        return {};
    }
    if (wchar_t* last = wcsrchr(path, L'\\')) {
        *last = L'\0';
    }
    char folder[512] = {};
    if (::WideCharToMultiByte(CP_ACP, 0, path, -1, folder, sizeof folder, nullptr, nullptr) == 0) {
        return {};
    }
    return folder;
}

char WinFolders::Separator() {
    return '\\';
}

}  // namespace vt::platform::win32
