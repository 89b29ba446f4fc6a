#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

TEST(PosixFolders, DataFolderFollowsTheEnvironmentWithoutTrailingSlashAndIsShared) {
    PosixFolders folders;
    ::setenv("VTSERVICE_DATA_DIR", "/tmp/vt-data//", 1);
    EXPECT_EQ(folders.DataFolder(), "/tmp/vt-data");
    std::string shared = "before";
    EXPECT_TRUE(folders.SharedDataFolder(shared));
    EXPECT_EQ(shared, "/tmp/vt-data");
    ::setenv("VTSERVICE_DATA_DIR", "", 1);
    EXPECT_EQ(folders.DataFolder(), "/var/lib/vtservice");
    ::unsetenv("VTSERVICE_DATA_DIR");
    EXPECT_EQ(folders.DataFolder(), "/var/lib/vtservice");
}

}  // namespace
}  // namespace vt::platform::posix
