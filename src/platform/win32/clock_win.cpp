#include <windows.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinClock final : public Clock {
  public:
    uint32_t TickCount() override;
    uint64_t TickCount64() override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t LocalTimeMs() override;
};

uint32_t WinClock::TickCount() {
    return ::GetTickCount();
}
uint64_t WinClock::TickCount64() {
    return ::GetTickCount64();
}
void WinClock::Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}
uint64_t WinClock::LocalTimeMs() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    FILETIME asFileTime{};
    ::SystemTimeToFileTime(&local, &asFileTime);
    const uint64_t hundredNs =
        (static_cast<uint64_t>(asFileTime.dwHighDateTime) << 32) | asFileTime.dwLowDateTime;
    return hundredNs / 10000;
}

Clock& SystemClock() {
    static WinClock clock;
    return clock;
}

}  // namespace vt::platform::win32
