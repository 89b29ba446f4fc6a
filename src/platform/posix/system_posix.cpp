#include "platform/posix/system_posix.h"

namespace vt::platform {

const Platform& System() {
    static posix::PosixClock clock;
    static posix::PosixEventLog eventLog;
    static posix::PosixServiceHost serviceHost;
    static posix::PosixThreads threads;
    static posix::PosixProcesses processes;
    static Console& console = posix::SystemConsole();
    static Libraries& libraries = posix::SystemLibraries();
    static posix::PosixPipes pipes;
    static posix::PosixFolders folders;
    static posix::PosixScreenSaverEvents screenSaver;
    static posix::PosixIcmp icmp;
    static posix::PosixCrashHook crashHook;
    static const Platform platform{.clock = clock,
                                   .eventLog = eventLog,
                                   .serviceHost = serviceHost,
                                   .threads = threads,
                                   .processes = processes,
                                   .console = console,
                                   .libraries = libraries,
                                   .pipes = pipes,
                                   .folders = folders,
                                   .screenSaver = screenSaver,
                                   .icmp = icmp,
                                   .crashHook = crashHook,
                                   .scm = nullptr};
    return platform;
}

}  // namespace vt::platform
