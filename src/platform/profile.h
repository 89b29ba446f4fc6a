// Integer values of Windows-style settings files ("[section]" headers and
// "key=value" lines), read the way the desktop application writes them.
#pragma once

#include <cstdint>
#include <string>

namespace vt::platform {

class ProfileFiles {
  public:
    // The integer at the start of the value of `key` in `section` of
    // `file` (names compared without regard to case); `defaultValue` when
    // the file, the section or the key is missing or the value is empty,
    // 0 when the value does not start with a number. Values beyond 32 bits
    // wrap, as the system call's do.
    virtual uint32_t GetInt(const std::string& section, const std::string& key,
                            uint32_t defaultValue, const std::string& file) = 0;

  protected:
    ~ProfileFiles() = default;
};

}  // namespace vt::platform
