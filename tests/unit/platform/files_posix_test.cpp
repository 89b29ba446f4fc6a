// The Linux service folder and the reading of files other users can write,
// on the real file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

namespace fs = std::filesystem;

class PosixFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vtfiles.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        vault = root / "vault";
        fs::create_directory(vault);
        std::ofstream(vault / "precious") << "precious";
    }
    void TearDown() override { fs::remove_all(root); }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // The vault as it was: nothing written into it, nothing changed.
    void ExpectVaultUntouched() {
        EXPECT_EQ(std::distance(fs::directory_iterator(vault), fs::directory_iterator()), 1);
        EXPECT_EQ(Read(vault / "precious"), "precious");
    }
    static void ExpectServiceOnly(const fs::path& folder) {
        struct stat info {};
        ASSERT_EQ(lstat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        EXPECT_EQ(info.st_uid, geteuid());
    }

    fs::path root;
    fs::path vault;
};

TEST_F(PosixFiles, AMissingServiceFolderIsCreatedForTheServiceAloneAndKeptLater) {
    const fs::path folder = root / "service_dmp";
    PosixFolders folders;
    EXPECT_EQ(folders.ServiceFolder(), "");
    uint32_t error = 0;
    ASSERT_TRUE(folders.PrepareServiceFolder(folder.string() + "/", error));
    ExpectServiceOnly(folder);
    const std::string held = folders.ServiceFolder();
    EXPECT_EQ(held.rfind("/proc/self/fd/", 0), 0u) << held;
    std::ofstream(held + "old.txt") << "kept";
    EXPECT_EQ(Read(folder / "old.txt"), "kept");

    // The next start keeps it, with what is in it.
    PosixFolders again;
    ASSERT_TRUE(again.PrepareServiceFolder(folder.string(), error));
    EXPECT_EQ(Read(again.ServiceFolder() + "old.txt"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2);

    // Only the last level is created.
    PosixFolders orphan;
    EXPECT_FALSE(orphan.PrepareServiceFolder((root / "missing" / "service_dmp").string(), error));
    EXPECT_EQ(error, uint32_t{ENOENT});
    EXPECT_EQ(orphan.ServiceFolder(), "");
}

// A link, a file, a folder others may write to or another user's folder in
// its place: renamed aside as it is (never followed, never replacing an
// earlier one), and a new folder made.
TEST_F(PosixFiles, WhateverElseIsAtTheServiceFolderIsSetAside) {
    const fs::path folder = root / "service_dmp";
    struct Planted {
        const char* what;
        std::function<void()> plant;
        std::function<bool(const fs::path&)> stillThere;
    };
    std::vector<Planted> cases = {
        {"symlink", [&] { fs::create_directory_symlink(vault, folder); },
         [&](const fs::path& p) { return fs::is_symlink(p) && fs::read_symlink(p) == vault; }},
        {"file", [&] { std::ofstream(folder) << "file"; },
         [&](const fs::path& p) { return Read(p) == "file"; }},
        {"open folder",
         [&] {
             fs::create_directory(folder);
             chmod(folder.c_str(), 0777);
         },
         [&](const fs::path& p) { return fs::is_directory(p); }},
    };
    if (geteuid() == 0) {
        cases.push_back({"another user's folder",
                         [&] {
                             fs::create_directory(folder);
                             chmod(folder.c_str(), 0700);
                             ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
                         },
                         [&](const fs::path& p) {
                             struct stat info {};
                             return lstat(p.c_str(), &info) == 0 && info.st_uid == 65534;
                         }});
    }
    // Every name a user could guess is taken: the service still gets its
    // folder.
    for (int n = 1; n <= 100; ++n) {
        std::ofstream(root / ("service_dmp.aside-" + std::to_string(n))) << "planted";
    }
    std::set<fs::path> asides;
    for (const auto& entry : fs::directory_iterator(root)) {
        asides.insert(entry.path());
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);  // the service's own folder of the case before
        c.plant();
        PosixFolders folders;
        uint32_t error = 0;
        ASSERT_TRUE(folders.PrepareServiceFolder(folder.string(), error)) << error;
        ExpectServiceOnly(folder);
        EXPECT_TRUE(fs::is_empty(folder));
        std::vector<fs::path> added;
        for (const auto& entry : fs::directory_iterator(root)) {
            if (entry.path() != folder && asides.insert(entry.path()).second) {
                added.push_back(entry.path());
            }
        }
        ASSERT_EQ(added.size(), 1u);
        EXPECT_EQ(added[0].filename().string().rfind("service_dmp.aside-", 0), 0u);
        EXPECT_TRUE(c.stillThere(added[0]));
        std::ofstream(folders.ServiceFolder() + "report.txt") << "report";
        EXPECT_EQ(Read(folder / "report.txt"), "report");
        ExpectVaultUntouched();
    }
}

// Renaming the held folder away and planting a link at its name changes
// nothing for the service: it still writes into its own folder.
TEST_F(PosixFiles, TheHeldServiceFolderCannotBeRedirected) {
    const fs::path folder = root / "service_dmp";
    PosixFolders folders;
    uint32_t error = 0;
    ASSERT_TRUE(folders.PrepareServiceFolder(folder.string(), error));
    fs::rename(folder, root / "moved");
    fs::create_directory_symlink(vault, folder);
    std::ofstream(folders.ServiceFolder() + "oled.bmp") << "bitmap";
    EXPECT_EQ(Read(root / "moved" / "oled.bmp"), "bitmap");
    ExpectVaultUntouched();
}

TEST_F(PosixFiles, OnlyAPlainFileWithinTheLimitIsRead) {
    PosixFolders folders;
    const fs::path file = root / "tw_service.cfg";
    std::ofstream(file) << "0123456789";
    std::string content = "untouched";
    EXPECT_EQ(folders.ReadUserFile(file, 10, content), UserFile::Read);
    EXPECT_EQ(content, "0123456789");
    content = "untouched";
    EXPECT_EQ(folders.ReadUserFile(file, 9, content), UserFile::TooLarge);
    EXPECT_EQ(folders.ReadUserFile((root / "none").string(), 10, content), UserFile::Missing);
    EXPECT_EQ(folders.ReadUserFile((root / "none" / "x").string(), 10, content), UserFile::Missing);

    const fs::path link = root / "link.cfg";
    fs::create_symlink(vault / "precious", link);
    EXPECT_EQ(folders.ReadUserFile(link, 100, content), UserFile::NotRegular);
    fs::create_hard_link(file, root / "second-name");
    EXPECT_EQ(folders.ReadUserFile(file, 100, content), UserFile::NotRegular);
    EXPECT_EQ(folders.ReadUserFile(vault, 100, content), UserFile::NotRegular);
    // A pipe with no writer is refused, not waited on (a blocking open
    // would hang here).
    const fs::path fifo = root / "fifo.cfg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(folders.ReadUserFile(fifo, 100, content), UserFile::NotRegular);
    EXPECT_EQ(content, "untouched");
}

// The walk to a folder: a link or a folder another user controls anywhere
// above the last level is refused; the last folder itself may be anyone's
// and writable, but no link.
TEST_F(PosixFiles, TheWayToAFolderHasNoLinkAndNoFolderOfAnotherUser) {
    const fs::path data = root / "veltrace" / "data";
    fs::create_directories(data);
    fs::create_directory_symlink(root / "veltrace", root / "linked");
    fs::create_directory_symlink(data, root / "veltrace" / "linked-data");
    struct Case {
        const char* what;
        std::function<void()> plant;
        fs::path folder;
        uint32_t error;  // 0: reached
    };
    std::vector<Case> cases = {
        {"plain", [] {}, data, 0},
        {"link above", [] {}, root / "linked" / "data", ELOOP},
        {"link last", [] {}, root / "veltrace" / "linked-data", ELOOP},
        {"writable by all above", [&] { chmod((root / "veltrace").c_str(), 0777); }, data, EPERM},
        {"sticky above", [&] { chmod((root / "veltrace").c_str(), 01777); }, data, 0},
        {"writable by all last", [&] { chmod(data.c_str(), 0777); }, data, 0},
    };
    if (geteuid() == 0) {
        auto give = [](const fs::path& p) { ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0); };
        cases.push_back({"another user's last", [&] { give(data); }, data, 0});
        cases.push_back({"another user's above", [&] { give(root / "veltrace"); }, data, EPERM});
        cases.push_back({"another user's in sticky",
                         [&] {
                             give(data);
                             chmod((root / "veltrace").c_str(), 01777);
                         },
                         data, EPERM});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        chmod((root / "veltrace").c_str(), 0755);
        chmod(data.c_str(), 0755);
        ASSERT_EQ(chown((root / "veltrace").c_str(), geteuid(), getegid()), 0);
        ASSERT_EQ(chown(data.c_str(), geteuid(), getegid()), 0);
        c.plant();
        uint32_t error = 0;
        const int fd = OpenFolderByWalk(c.folder.string(), error);
        EXPECT_EQ(fd >= 0 ? 0 : error, c.error);
        if (fd >= 0) {
            close(fd);
        }
    }
}

}  // namespace
}  // namespace vt::platform::posix
