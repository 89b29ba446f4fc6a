// The program's entry, shared by both builds: reads the first argument and
// installs, removes, starts, or runs as the service. Returns the process exit
// code, which is 0 on every path.
#pragma once

#include "platform/platform.h"

namespace vt::service {

enum class Command { RunService, Install, Remove, Run, Exit };

// Only the first argument counts: '-' or '/' and then a whole word, any case.
Command ParseCommand(int argc, wchar_t** argv);

int ProgramMain(int argc, wchar_t** argv, const platform::Platform& platform);

}  // namespace vt::service
