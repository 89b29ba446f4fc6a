#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

TEST(PosixFolders, DataFolderFollowsTheEnvironmentWithoutTrailingSlash) {
    PosixFolders folders;
    ::setenv("VTSERVICE_DATA_DIR", "/tmp/vt-data//", 1);
    EXPECT_EQ(folders.DataFolder(), "/tmp/vt-data");
    ::setenv("VTSERVICE_DATA_DIR", "", 1);
    EXPECT_EQ(folders.DataFolder(), "/var/lib/vtservice");
    ::unsetenv("VTSERVICE_DATA_DIR");
    EXPECT_EQ(folders.DataFolder(), "/var/lib/vtservice");
}

TEST(PosixFolders, SharedDataFolderIsTheDataFolder) {
    PosixFolders folders;
    ::setenv("VTSERVICE_DATA_DIR", "/tmp/vt-shared/", 1);
    std::string folder = "before";
    EXPECT_TRUE(folders.SharedDataFolder(folder));
    EXPECT_EQ(folder, "/tmp/vt-shared");
    ::unsetenv("VTSERVICE_DATA_DIR");
}

}  // namespace
}  // namespace vt::platform::posix
