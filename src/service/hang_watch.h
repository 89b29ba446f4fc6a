// The hang watch: a call into an outside library still in progress after
// kHangBoundMs is a hang. The service then writes one error entry naming
// the call and its thread, leaves a dump as a crash would, and ends with a
// failure code, so the service manager's recovery (systemd's Restart=)
// starts it again rather than keep a service that answers nothing.
//
// One per process, for its whole life, like the crash hook: it looks every
// kLookMs, or sooner when a call in progress reaches the bound before then
// (so a hang is seen as the bound passes), and is never told to end.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/crash_hook.h"
#include "platform/event_log.h"
#include "platform/threads.h"

namespace vt::service {

class HangWatch {
  public:
    static constexpr uint64_t kHangBoundMs = 30000;
    static constexpr uint32_t kLookMs = 5000;

    HangWatch(platform::Threads& threads, platform::Clock& clock, platform::EventLog& eventLog,
              platform::CrashHook& crashHook)
        : threads_(threads), clock_(clock), eventLog_(eventLog), crashHook_(crashHook) {}

    // Starts the process's watch on a thread of its own, once; later calls
    // do nothing. Without a thread the service runs on unwatched.
    static void StartOnce(platform::Threads& threads, platform::Clock& clock,
                          platform::EventLog& eventLog, platform::CrashHook& crashHook);

    // One look: false when it found a hang (and reported it).
    bool Pass();
    // How long to wait before the next look: kLookMs, or until the call
    // in progress the longest passes the bound, if that is sooner.
    uint32_t NextLookMs();

  private:
    static void Thread(void* watch);

    platform::Threads& threads_;
    platform::Clock& clock_;
    platform::EventLog& eventLog_;
    platform::CrashHook& crashHook_;
};

}  // namespace vt::service
