#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/system_posix.h"

extern char** environ;

namespace vt::platform::posix {

// Ends the process at once, as a forced termination does; the exit code
// cannot be chosen from outside on Linux. Only a child this object started
// and has not reaped yet is ended: any other process id may by now belong
// to someone else.
bool PosixProcesses::Terminate(ProcessHandle process, uint32_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto child = children_.find(static_cast<pid_t>(process));
    if (child == children_.end()) {
        return false;
    }
    const bool killed = kill(*child, SIGKILL) == 0;
    waitpid(*child, nullptr, 0);
    children_.erase(child);
    return killed;
}

void PosixProcesses::ReapEnded() {
    for (auto it = children_.begin(); it != children_.end();) {
        if (waitpid(*it, nullptr, WNOHANG) != 0) {
            it = children_.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<ProcStat> ParseProcStat(const std::string& stat) {
    // "pid (name) state ...": the name may itself hold spaces and
    // parentheses, so it runs to the last closing one.
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open ||
        close + 2 >= stat.size()) {
        return std::nullopt;
    }
    return ProcStat{stat.substr(open + 1, close - open - 1), stat[close + 2]};
}

namespace {

// Whether the process `id` (its /proc folder name) runs under `name`.
bool RunsAs(const char* id, const std::string& name) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%s/stat", id);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // The line's start holds the name (at most 15 characters) and state.
    char buffer[128];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    close(fd);
    if (n <= 0) {
        return false;
    }
    const auto stat = ParseProcStat(std::string(buffer, static_cast<size_t>(n)));
    // Ended processes not yet reaped by their parents no longer run.
    return stat && stat->name == name && stat->state != 'Z' && stat->state != 'X';
}

}  // namespace

bool PosixProcesses::ProgramRuns(const std::string& fileName) {
    bool found = false;
    const pid_t last = lastFound_.load();
    if (last > 0 && RunsAs(std::to_string(last).c_str(), fileName)) {
        found = true;
    } else if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            const char* id = entry->d_name;
            if (*id >= '1' && *id <= '9' && RunsAs(id, fileName)) {
                lastFound_ = static_cast<pid_t>(std::atoi(id));
                found = true;
                break;
            }
        }
        closedir(proc);
    }
    // A child of ours that ended lingers as a zombie until reaped; any not
    // found running above has ended by now.
    std::lock_guard<std::mutex> lock(mutex_);
    ReapEnded();
    return found;
}

std::string PosixProcesses::FileName(const ProgramName& program) {
    return program.posix;
}

// A plain start as the service's own user: a daemon has no console session
// to reach into. The child starts with no signal blocked (the service blocks
// its stop signals in every thread) and away from the service's output.
ProcessHandle PosixProcesses::LaunchInUserSession(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    std::lock_guard<std::mutex> lock(mutex_);
    const int error = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return kNoProcess;
    }
    children_.insert(pid);
    return pid;
}

void PosixProcesses::Release(ProcessHandle process) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto child = children_.find(static_cast<pid_t>(process));
    if (child != children_.end() && waitpid(*child, nullptr, WNOHANG) != 0) {
        children_.erase(child);
    }
}

// _exit: no atexit handlers, no static destructors, no library destructors.
void PosixProcesses::EndThisProcess(uint32_t exitCode) {
    ::_exit(static_cast<int>(exitCode));
}

}  // namespace vt::platform::posix
