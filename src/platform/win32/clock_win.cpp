#include <windows.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

uint32_t WinClock::TickCount() {
    return ::GetTickCount();
}
uint64_t WinClock::TickCount64() {
    return ::GetTickCount64();
}
void WinClock::Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace vt::platform::win32
