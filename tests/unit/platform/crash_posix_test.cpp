// The Linux crash hook: the report file, the report, and a real crash in a
// child process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

namespace fs = std::filesystem;

class CrashFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vtcrash.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
    }
    void TearDown() override { fs::remove_all(root); }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path root;
};

// An older report of the same name is replaced, and so is a link planted
// at the name: the report never goes through it.
TEST_F(CrashFolder, TheReportFileIsAlwaysANewFileOfTheServiceAlone) {
    const fs::path target = root / "target";
    std::ofstream(target) << "precious";
    const fs::path report = root / "2026124167.txt";
    fs::create_symlink(target, report);
    int fd = CreateCrashReportFile(report.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "new", 3), 3);
    close(fd);
    EXPECT_EQ(Read(target), "precious");
    EXPECT_FALSE(fs::is_symlink(report));
    EXPECT_EQ(Read(report), "new");
    EXPECT_EQ(fs::status(report).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    fd = CreateCrashReportFile(report.c_str());  // the later crash of the minute wins
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(Read(report), "");
}

TEST_F(CrashFolder, TheReportNamesSignalAddressAndFrames) {
    const fs::path file = root / "report.txt";
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    WriteCrashReport(fd, SIGSEGV, reinterpret_cast<void*>(0xdead0));
    close(fd);
    const std::string text = Read(file);
    EXPECT_NE(text.find("signal 11 (SIGSEGV)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("address 0xdead0\n"), std::string::npos) << text;
    const size_t frames = text.find("backtrace:\n");
    ASSERT_NE(frames, std::string::npos);
    EXPECT_GT(text.size(), frames + 12);  // at least one frame follows
}

// A child installs the hook and faults; the report lands in the folder and
// the fault still ends the child.
TEST_F(CrashFolder, ACrashLeavesAReportAndEndsTheProcess) {
    const std::string folder = (root / "service_dmp/").string();
    fs::create_directory(folder);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixCrashHook hook;
        hook.Install(folder);
        // Not null, so the undefined-behaviour checker lets the fault happen.
        volatile uintptr_t unmapped = 0x10;
        *reinterpret_cast<volatile int*>(unmapped) = 1;
        _exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    std::vector<fs::path> reports;
    for (const auto& entry : fs::directory_iterator(folder)) {
        reports.push_back(entry.path());
    }
    ASSERT_EQ(reports.size(), 1u);
    const std::string name = reports[0].filename().string();
    EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    EXPECT_EQ(name.find_first_not_of("0123456789"), name.size() - 4) << name;
    EXPECT_NE(Read(reports[0]).find("(SIGSEGV)\naddress 0x10\n"), std::string::npos);
}

}  // namespace
}  // namespace vt::platform::posix
