#include <windows.h>
// after windows.h
#include <shlobj.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

// Fixed, not looked up: the desktop application writes the job file to this
// very path whatever the system's folder settings say.
std::string WinFolders::DataFolder() {
    return "C:\\ProgramData\\Tarnwick\\Veltrace";
}

bool WinFolders::SharedDataFolder(std::string& folder) {
    constexpr int kCommonAppData = 0x23;
    wchar_t wide[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, wide, kCommonAppData, FALSE)) {
        return false;
    }
    char narrow[MAX_PATH * 2] = {};
    if (::WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr) == 0) {
        return false;
    }
    folder = std::string(narrow) + "\\Tarnwick\\Veltrace";
    return true;
}

// In the ANSI code page, in a buffer of MAX_PATH characters, as the
// companion's path is built from it.
std::string WinFolders::ProgramFolder() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0) {
        return {};
    }
    const std::string path(buffer, length);
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

char WinFolders::Separator() {
    return '\\';
}

}  // namespace vt::platform::win32
