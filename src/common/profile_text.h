// Integer values of Windows-style settings files ("[section]" headers and
// "key=value" lines), read from the file's text the way the system's
// settings-file call reads them, so a file the desktop application wrote
// gives the same value on every build.
#pragma once

#include <cstdint>
#include <string_view>

namespace vt {

// The integer at the start of the value of `key` in `section` (names
// compared without regard to case); `defaultValue` when the section or the
// key is missing or the value is empty, 0 when the value does not start
// with a number. Values beyond 32 bits wrap, as the system call's do. The
// text may start with a UTF-8 or a UTF-16 (little-endian) byte-order mark.
uint32_t ProfileIntFromText(std::string_view text, std::string_view section, std::string_view key,
                            uint32_t defaultValue);

}  // namespace vt
