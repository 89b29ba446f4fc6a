// UTF-8 <-> wide (UTF-32) conversion for the posix backends, independent of
// the process locale.
#pragma once

#include <string>
#include <string_view>

namespace vt::platform::posix {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace vt::platform::posix
