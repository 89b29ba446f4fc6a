// What a work item waits on between two passes instead of polling: the
// service's stop, or a wake-up from whoever changed what the pass looks at.
// A Wake with nobody waiting ends the next wait at once, so a change made
// while the pass was busy is never missed. A pass rearms, then looks at its
// state, then waits: wake-ups from before the look are dropped, since the
// look has seen what they announced.
//
// Until it is attached (tests of other things, tools), and whenever a wait
// fails, a wait is the poll it replaces: plain sleeps on the clock, so a
// broken wait can never spin.
//
// Threads: one thread waits; any thread may Wake. Attach before the waiting
// thread and the waking ones start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/threads.h"

namespace vt {

class PassWait {
  public:
    explicit PassWait(platform::Clock& clock) : clock_(clock) {}

    // `stop` is the service's stop event (manual reset) and outlives this.
    // False, with threads.LastError() set, when the wake-up event cannot be
    // made; the waits then stay polls.
    bool Attach(platform::Threads& threads, platform::Event& stop);
    void Wake();
    // Drops the wake-ups so far.
    void Rearm();

    // Until the stop or a Wake; polls every `pollMs` where it cannot wait.
    // True when the stop ended it.
    bool WaitForWake(uint32_t pollMs);
    // `milliseconds` in all, however often woken, unless the stop comes or
    // `until` (may be empty) holds after a wake. Where it cannot wait, it
    // sleeps in `stepMs` steps and looks at `until` after each. True when
    // the stop ended it.
    bool WaitPeriod(uint64_t milliseconds, uint32_t stepMs, const std::function<bool()>& until);

  private:
    bool PollPeriod(uint64_t milliseconds, uint32_t stepMs, const std::function<bool()>& until);

    platform::Clock& clock_;
    platform::Threads* threads_ = nullptr;
    platform::Event* stop_ = nullptr;
    std::unique_ptr<platform::Event> wake_;
};

}  // namespace vt
