// Records where the service asked for its dumps; installs nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/crash_hook.h"

namespace vt::fakes {

class FakeCrashHook final : public platform::CrashHook {
  public:
    void Install(const std::string& folder) override { installed.push_back(folder); }
    void Hung(const char* call, const char* thread) override {
        hung.push_back(std::string(call) + " on " + thread);
    }

    std::vector<std::string> installed;
    std::vector<std::string> hung;
};

}  // namespace vt::fakes
