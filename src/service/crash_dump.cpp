#include "service/crash_dump.h"

#include <algorithm>

namespace vt::service {

std::string CrashDumpFolder(const std::string& dataFolder) {
    // One spelling on every system; Windows takes forward slashes as well.
    std::string folder = dataFolder;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder + "/service_dmp/";
}

}  // namespace vt::service
