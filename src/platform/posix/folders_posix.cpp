#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

std::string PosixFolders::DataFolder() {
    // Tests and the demo move it so they run without root.
    const char* dir = std::getenv("VTSERVICE_DATA_DIR");
    std::string folder = dir != nullptr && *dir != '\0' ? dir : "/var/lib/vtservice";
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

bool PosixFolders::SharedDataFolder(std::string& folder) {
    folder = DataFolder();
    return true;
}

std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return {};
    }
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

std::string PosixFolders::ProgramFolder() {
    std::string folder = ExecutableFolder();
    if (folder.size() > 1) {
        folder.pop_back();
    }
    return folder;
}

char PosixFolders::Separator() {
    return '/';
}

}  // namespace vt::platform::posix
