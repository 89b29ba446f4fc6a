#include "platform/posix/system_posix.h"

namespace vt::platform {

const Platform& System() {
    static posix::PosixClock clock;
    static posix::PosixEventLog eventLog;
    static posix::PosixServiceHost serviceHost;
    static posix::PosixThreads threads;
    static posix::PosixProcesses processes;
    static posix::PosixConsole console;
    static posix::PosixLibraries libraries;
    static const Platform platform{clock,     eventLog, serviceHost, threads,
                                   processes, console,  libraries,   nullptr};
    return platform;
}

}  // namespace vt::platform
