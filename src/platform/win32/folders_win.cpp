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

char WinFolders::Separator() {
    return '\\';
}

}  // namespace vt::platform::win32
