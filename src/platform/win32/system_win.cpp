#include "platform/win32/system_win.h"

namespace vt::platform {

const Platform& System() {
    static Clock& clock = win32::SystemClock();
    static EventLog& eventLog = win32::SystemEventLog();
    static ServiceHost& serviceHost = win32::SystemServiceHost();
    static win32::WinThreads threads;
    static Processes& processes = win32::SystemProcesses();
    static Console& console = win32::SystemConsole();
    static Libraries& libraries = win32::SystemLibraries();
    static win32::WinPipes pipes;
    static win32::WinFolders folders;
    static ScreenSaverEvents& screenSaver = win32::SystemScreenSaverEvents();
    static Icmp& icmp = win32::SystemIcmp();
    static CrashHook& crashHook = win32::SystemCrashHook();
    static ServiceControlManager& scm = win32::SystemScm();
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
