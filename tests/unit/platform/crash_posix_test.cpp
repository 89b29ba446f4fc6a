// The Linux crash hook: the report file, the report, and a real crash in a
// child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& file) {
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CrashFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vtcrash.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
    }
    void TearDown() override { fs::remove_all(root); }
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

// A page a frame, to a depth no stack holds.
[[gnu::noinline]] size_t Recurse(size_t depth) {
    volatile char page[4096] = {};
    return depth == 0 ? page[0] : Recurse(depth - 1) + page[1];
}

void FaultOnThisThread() {
    // Not null, so the undefined-behaviour checker lets the fault happen.
    volatile uintptr_t unmapped = 0x10;
    *reinterpret_cast<volatile int*>(unmapped) = 1;
}

// A thread the service starts uses up its stack: the handler still has one.
void OverflowOnAServiceThread() {
    PosixThreads threads;
    threads.StartThread([](void*) { Recurse(SIZE_MAX); }, nullptr);
    for (;;) {
        pause();
    }
}

// Two threads fault together, as threads meeting the same freed object do:
// the second one's fault must not end the process before the first one's
// report is written.
void FaultOnTwoThreads() {
    static std::atomic<bool> go{false};
    std::thread second([] {
        while (!go.load()) {
        }
        FaultOnThisThread();
    });
    go = true;
    FaultOnThisThread();
    second.join();  // not reached
}

// A child installs the hook and meets `fault`; the one report it leaves in
// the folder, and the fault still ends the child with its own signal.
std::string ReportOfAChildThat(void (*fault)(), const std::string& folder) {
    fs::create_directory(folder);
    const pid_t child = fork();
    if (child == 0) {
        PosixCrashHook hook;
        hook.Install(folder);
        fault();
        _exit(0);  // not reached
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status;
    std::vector<fs::path> reports;
    for (const auto& entry : fs::directory_iterator(folder)) {
        reports.push_back(entry.path());
    }
    if (reports.size() != 1) {
        ADD_FAILURE() << reports.size() << " reports";
        return {};
    }
    const std::string name = reports[0].filename().string();
    EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    EXPECT_EQ(name.find_first_not_of("0123456789"), name.size() - 4) << name;
    return Read(reports[0]);
}

TEST_F(CrashFolder, ASecondCrashRightAfterTheFirstStillLeavesOneCompleteReport) {
    for (int round = 0; round < 30; ++round) {
        const std::string report = ReportOfAChildThat(
            FaultOnTwoThreads, (root / ("round" + std::to_string(round)) / "").string());
        const size_t backtrace =
            report.find("signal 11 (SIGSEGV)\naddress 0x10\nbacktrace:\n");
        ASSERT_NE(backtrace, std::string::npos) << "round " << round << ": " << report;
        ASSERT_NE(report.find("vt_platform_tests", backtrace), std::string::npos) << report;
        ASSERT_EQ(report.back(), '\n') << report;
    }
}

TEST_F(CrashFolder, AStackOverflowOnAServiceThreadLeavesAReport) {
    const std::string report =
        ReportOfAChildThat(OverflowOnAServiceThread, (root / "service_dmp/").string());
    EXPECT_NE(report.find("(SIGSEGV)\naddress 0x"), std::string::npos) << report;
}

}  // namespace
}  // namespace vt::platform::posix
