#include <windows.h>

#include <cstdlib>
#include <string>

#include "readings.h"

namespace vtsensors {

std::filesystem::path ModuleFolder() {
    HMODULE self = nullptr;
    wchar_t file[MAX_PATH] = {};
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ModuleFolder), &self) ||
        ::GetModuleFileNameW(self, file, MAX_PATH) == 0) {
        return ".";
    }
    return std::filesystem::path(file).parent_path();
}

std::optional<std::filesystem::path> EnvPath(const char* name) {
    const std::string narrow(name);
    const wchar_t* value = ::_wgetenv(std::wstring(narrow.begin(), narrow.end()).c_str());
    if (value == nullptr || *value == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

// Windows machines are served from the readings file only.
bool HasMachineSensors() {
    return false;
}

}  // namespace vtsensors
