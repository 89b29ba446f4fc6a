// Processes the service started itself.
#pragma once

#include <cstdint>

namespace vt::platform {

// A process handle on Windows, a process id elsewhere.
using ProcessHandle = intptr_t;
inline constexpr ProcessHandle kNoProcess = -1;

class Processes {
  public:
    virtual bool Terminate(ProcessHandle process, uint32_t exitCode) = 0;

  protected:
    ~Processes() = default;
};

}  // namespace vt::platform
