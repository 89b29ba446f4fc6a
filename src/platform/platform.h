// The set of operating-system services one service process uses. The real
// set comes from System(); tests build theirs from fakes.
#pragma once

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/crash_hook.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/icmp.h"
#include "platform/library.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/scm.h"
#include "platform/screen_saver.h"
#include "platform/service_host.h"
#include "platform/threads.h"

namespace vt::platform {

struct Platform {
    Clock& clock;
    EventLog& eventLog;
    ServiceHost& serviceHost;
    Threads& threads;
    Processes& processes;
    Console& console;
    Libraries& libraries;
    Pipes& pipes;
    Folders& folders;
    ScreenSaverEvents& screenSaver;
    Icmp& icmp;
    CrashHook& crashHook;
    // Null where the operating system has no service manager of its own to
    // register with; the service is then installed by the system's init.
    ServiceControlManager* scm;
};

// The real operating system; lives for the whole process.
const Platform& System();

}  // namespace vt::platform
