#include "platform/win32/system_win.h"

namespace vt::platform {

const Platform& System() {
    static win32::WinClock clock;
    static win32::WinEventLog eventLog;
    static win32::WinServiceHost serviceHost;
    static win32::WinThreads threads;
    static win32::WinProcesses processes;
    static win32::WinConsole console;
    static win32::WinLibraries libraries;
    static win32::WinPipes pipes;
    static win32::WinFolders folders;
    static win32::WinScreenSaverEvents screenSaver;
    static win32::WinIcmp icmp;
    static win32::WinCrashHook crashHook;
    static win32::WinScm scm;
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
                                   .scm = &scm};
    return platform;
}

}  // namespace vt::platform
