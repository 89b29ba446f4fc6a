#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinConsole final : public Console {
  public:
    void Print(std::wstring_view text) override;
};

// A real console gets the wide text as it is; a pipe or file (the installer
// run from a script) gets UTF-8.
void WinConsole::Print(std::wstring_view text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

Console& SystemConsole() {
    static WinConsole console;
    return console;
}

}  // namespace vt::platform::win32
