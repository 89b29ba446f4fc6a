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

std::string PosixFolders::ProgramFolder() {
    std::string folder = ProgramFolderWithSeparator();
    if (folder.size() > 1) {
        folder.pop_back();
    }
    return folder;
}

char PosixFolders::Separator() {
    return '/';
}

}  // namespace vt::platform::posix
