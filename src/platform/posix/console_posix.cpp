#include <cstdio>

#include "platform/posix/system_posix.h"
#include "platform/posix/wide_posix.h"

namespace vt::platform::posix {

class PosixConsole final : public Console {
  public:
    void Print(std::wstring_view text) override;
};

void PosixConsole::Print(std::wstring_view text) {
    const std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

Console& SystemConsole() {
    static PosixConsole console;
    return console;
}

}  // namespace vt::platform::posix
