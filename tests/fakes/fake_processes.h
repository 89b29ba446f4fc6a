// A process table under the test's control. Launched programs join the
// table under their file name (the path after its last separator) and
// leave it when terminated; a test may add or remove entries as a user
// would. A launch opens a handle that only Release closes, as on Windows.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace vt::fakes {

class FakeProcesses final : public platform::Processes {
  public:
    bool Terminate(platform::ProcessHandle process, uint32_t exitCode) override {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated.emplace_back(process, exitCode);
        if (terminateSucceeds) {
            Forget(process);
        }
        return terminateSucceeds;
    }

    void EndThisProcess(uint32_t exitCode) override { ended.push_back(exitCode); }

    bool ProgramRuns(const std::string& fileName) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++listings;
        return std::any_of(running_.begin(), running_.end(),
                           [&](const auto& p) { return p.second == fileName; });
    }

    std::string FileName(const platform::ProgramName& program) override { return program.windows; }

    platform::ProcessHandle LaunchInUserSession(const std::string& path) override {
        std::function<void()> hook;
        platform::ProcessHandle handle = platform::kNoProcess;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            launched.push_back(path);
            hook = onLaunch;
            if (launchSucceeds) {
                handle = nextHandle_++;
                open_.push_back(handle);
                running_.emplace_back(handle, path.substr(path.find_last_of("/\\") + 1));
            }
        }
        if (hook) {
            hook();
        }
        return handle;
    }

    void Release(platform::ProcessHandle process) override {
        std::lock_guard<std::mutex> lock(mutex_);
        released.push_back(process);
        open_.erase(std::remove(open_.begin(), open_.end(), process), open_.end());
    }

    // A process the service did not start, as a user would.
    platform::ProcessHandle StartByUser(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        running_.emplace_back(nextHandle_, name);
        return nextHandle_++;
    }
    // The process ends by itself.
    void Exit(platform::ProcessHandle process) {
        std::lock_guard<std::mutex> lock(mutex_);
        Forget(process);
    }
    // Handles of launched programs not released yet.
    size_t openHandles() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_.size();
    }
    bool IsRunning(platform::ProcessHandle process) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::any_of(running_.begin(), running_.end(),
                           [&](const auto& p) { return p.first == process; });
    }

    bool terminateSucceeds = true;
    bool launchSucceeds = true;  // false: no active session, as after a failed start
    // Runs on the launching thread once the program started.
    std::function<void()> onLaunch;
    int listings = 0;
    std::vector<std::pair<platform::ProcessHandle, uint32_t>> terminated;
    std::vector<std::string> launched;
    std::vector<uint32_t> ended;  // EndThisProcess calls, by exit code
    std::vector<platform::ProcessHandle> released;

  private:
    // Under mutex_.
    void Forget(platform::ProcessHandle process) {
        running_.erase(std::remove_if(running_.begin(), running_.end(),
                                      [&](const auto& p) { return p.first == process; }),
                       running_.end());
    }

    std::mutex mutex_;
    platform::ProcessHandle nextHandle_ = 100;
    std::vector<std::pair<platform::ProcessHandle, std::string>> running_;
    std::vector<platform::ProcessHandle> open_;
};

}  // namespace vt::fakes
