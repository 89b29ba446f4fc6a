// Processes on Linux: the /proc listing, starting the companion, ending and
// reaping only the children started here.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

// Polls for a process state change made elsewhere; no timing rule is
// checked with it.
template <class F>
bool Eventually(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(PosixProcStat, NameRunsToTheLastParenthesis) {
    auto stat = ParseProcStat("42 (tw-nightjar) S 1 42 42 0");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->name, "tw-nightjar");
    EXPECT_EQ(stat->state, 'S');
    stat = ParseProcStat("7 (a) b (c)) Z 1");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->name, "a) b (c)");
    EXPECT_EQ(stat->state, 'Z');
    EXPECT_FALSE(ParseProcStat("7 (broken"));
    EXPECT_FALSE(ParseProcStat("7 (cut)"));
    EXPECT_FALSE(ParseProcStat(""));
}

TEST(PosixProcesses, TheCompanionRunsUnderItsNameUntilEndedAndLeavesNoZombie) {
    PosixProcesses processes;
    EXPECT_EQ(processes.FileName({"tw-nightjar.exe", "tw-nightjar"}), "tw-nightjar");
    // The service blocks its stop signals in every thread; the companion
    // must not inherit that.
    sigset_t stop, old;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &old);
    const ProcessHandle first = processes.LaunchInUserSession(TW_NIGHTJAR_PROGRAM);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_NE(first, kNoProcess);
    EXPECT_TRUE(Eventually([&] { return processes.ProgramRuns("tw-nightjar"); }));
    // The whole name, in its own case: anything else is another program.
    EXPECT_FALSE(processes.ProgramRuns("tw-nightja"));
    EXPECT_FALSE(processes.ProgramRuns("TW-NIGHTJAR"));

    // Ended from outside, as a user would: it leaves the list at once,
    // zombie or not, and is reaped.
    ASSERT_EQ(kill(static_cast<pid_t>(first), SIGTERM), 0);
    EXPECT_TRUE(Eventually([&] { return !processes.ProgramRuns("tw-nightjar"); }));
    EXPECT_EQ(kill(static_cast<pid_t>(first), 0), -1);  // reaped, not a zombie
    // Once reaped its id is no longer ours to end.
    EXPECT_FALSE(processes.Terminate(first, 0));

    const ProcessHandle second = processes.LaunchInUserSession(TW_NIGHTJAR_PROGRAM);
    ASSERT_NE(second, kNoProcess);
    EXPECT_TRUE(processes.Terminate(second, 0));
    EXPECT_EQ(kill(static_cast<pid_t>(second), 0), -1);
    EXPECT_FALSE(processes.ProgramRuns("tw-nightjar"));
}

TEST(PosixProcesses, OnlyItsOwnChildrenAreEnded) {
    PosixProcesses processes;
    // Were these killed, the test itself would die.
    EXPECT_FALSE(processes.Terminate(getpid(), 0));
    EXPECT_FALSE(processes.Terminate(getppid(), 0));
    EXPECT_FALSE(processes.Terminate(kNoProcess, 0));
}

TEST(PosixProcesses, AProgramThatCannotStartGivesNoProcess) {
#ifdef VT_UNDER_EMULATOR
    // qemu's user mode runs posix_spawn's shared-memory child as a plain
    // fork, so the failed exec never reaches the parent there.
    GTEST_SKIP() << "qemu-user cannot report a failed exec from posix_spawn";
#endif
    PosixProcesses processes;
    EXPECT_EQ(processes.LaunchInUserSession("/nonexistent/tw-nightjar"), kNoProcess);
}

TEST(PosixProcesses, ReleaseReapsAChildThatEnded) {
    PosixProcesses processes;
    const ProcessHandle child = processes.LaunchInUserSession("/bin/true");
    ASSERT_NE(child, kNoProcess);
    // Wait until it is a zombie; Release must then reap it.
    EXPECT_TRUE(Eventually([&] {
        std::ifstream in("/proc/" + std::to_string(child) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto stat = ParseProcStat(text);
        return stat && stat->state == 'Z';
    }));
    processes.Release(child);
    EXPECT_EQ(kill(static_cast<pid_t>(child), 0), -1);
}

}  // namespace
}  // namespace vt::platform::posix
