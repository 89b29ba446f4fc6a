// Standard output of the installer. Only the installer prints; under the
// service manager the text goes nowhere.
#pragma once

#include <string_view>

namespace vt::platform {

class Console {
  public:
    virtual void Print(std::wstring_view text) = 0;

  protected:
    ~Console() = default;
};

}  // namespace vt::platform
