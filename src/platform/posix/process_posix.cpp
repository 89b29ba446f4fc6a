#include <signal.h>
#include <sys/types.h>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

// Ends the process at once, as a forced termination does; the exit code
// cannot be chosen from outside on Linux.
bool PosixProcesses::Terminate(ProcessHandle process, uint32_t) {
    if (process <= 0) {
        return false;
    }
    return kill(static_cast<pid_t>(process), SIGKILL) == 0;
}

}  // namespace vt::platform::posix
