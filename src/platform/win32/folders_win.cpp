#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

// Fixed, not looked up: the desktop application writes the job file to this
// very path whatever the system's folder settings say.
std::string WinFolders::DataFolder() {
    return "C:\\ProgramData\\Tarnwick\\Veltrace";
}

char WinFolders::Separator() {
    return '\\';
}

}  // namespace vt::platform::win32
