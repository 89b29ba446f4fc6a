#include <windows.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

bool WinProcesses::Terminate(ProcessHandle process, uint32_t exitCode) {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exitCode) != FALSE;
}

}  // namespace vt::platform::win32
