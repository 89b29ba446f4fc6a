#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace vt::fakes {

class FakeProcesses final : public platform::Processes {
  public:
    bool Terminate(platform::ProcessHandle process, uint32_t exitCode) override {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated.emplace_back(process, exitCode);
        return terminateSucceeds;
    }

    bool terminateSucceeds = true;
    std::vector<std::pair<platform::ProcessHandle, uint32_t>> terminated;

  private:
    std::mutex mutex_;
};

}  // namespace vt::fakes
