#include <dlfcn.h>

#include <cstdlib>

#include "readings.h"

namespace vtsensors {

std::filesystem::path ModuleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr) {
        return ".";
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

std::optional<std::filesystem::path> EnvPath(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

bool HasMachineSensors() {
    std::error_code ec;
    return std::filesystem::exists("/sys/class/hwmon", ec);
}

}  // namespace vtsensors
