// Records where the service asked for its dumps; installs nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/crash_hook.h"

namespace vt::fakes {

class FakeCrashHook final : public platform::CrashHook {
  public:
    void Install(const std::string& folder) override { installed.push_back(folder); }

    std::vector<std::string> installed;
};

}  // namespace vt::fakes
