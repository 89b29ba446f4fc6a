#include <windows.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

uint32_t WinProfileFiles::GetInt(const std::string& section, const std::string& key,
                                 uint32_t defaultValue, const std::string& file) {
    return ::GetPrivateProfileIntA(section.c_str(), key.c_str(), static_cast<INT>(defaultValue),
                                   file.c_str());
}

}  // namespace vt::platform::win32
