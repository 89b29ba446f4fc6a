// The two halves of a crash hook, the same on every system.
//
// The crashed thread may have no stack left, may hold the heap's or the C
// runtime's locks, or may have crashed inside the loader: there it does as
// little as it can. It hands its report (what the system says about the
// crash) to a writer thread that was started, with everything else the dump
// needs, when the hook was installed, waits for that thread a bounded time,
// and then ends the process whatever happened. A writer that hangs on a lock
// the crash left held costs the dump, never the end of the process: the
// service manager sees it gone and restarts it.
//
// Only the first crash is handed over; a crash on another thread meanwhile
// (the writer's own included) waits the same bound and ends the process as
// well. Crashed touches nothing but the two events, an atomic flag and the
// report slot, so it may run in a signal handler when the events may
// (eventfd writes and polls) and on a nearly exhausted stack.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/threads.h"

namespace vt::platform {

template <class Report>
class CrashHandoff {
  public:
    // Writes the dump of `report`; runs on the writer thread.
    using WriteFunction = void (*)(const Report& report);
    // Ends the process (never returns, except in tests).
    using EndFunction = void (*)(const Report& report);

    static constexpr uint32_t kWriteBoundMs = 10000;

    // `crashed` and `written` are manual-reset events, not set; all four
    // outlive the hook (it is never removed).
    CrashHandoff(Event& crashed, Event& written, WriteFunction write, EndFunction end)
        : crashed_(crashed), written_(written), write_(write), end_(end) {}
    CrashHandoff(const CrashHandoff&) = delete;
    CrashHandoff& operator=(const CrashHandoff&) = delete;

    // The writer thread: waits for a crash, writes its dump, says so.
    void Serve() {
        if (crashed_.Wait(kInfinite) != kWaitObject0 ||
            // The event orders the report's writing before this through the
            // system; the flag orders it for the language (and the race
            // checkers, who do not see the event).
            !published_.load(std::memory_order_acquire)) {
            return;  // the crashed thread's bound still ends the process
        }
        write_(report_);
        written_.Set();
    }

    // On the crashed thread.
    void Crashed(const Report& report) {
        if (!claimed_.exchange(true)) {
            report_ = report;
            published_.store(true, std::memory_order_release);
            crashed_.Set();
        }
        written_.Wait(kWriteBoundMs);
        end_(report);
    }

  private:
    Event& crashed_;
    Event& written_;
    WriteFunction write_;
    EndFunction end_;
    std::atomic<bool> claimed_{false};
    std::atomic<bool> published_{false};
    // Written by the first crashed thread before `crashed` is set, read by
    // the writer after it saw it.
    Report report_{};
};

}  // namespace vt::platform
