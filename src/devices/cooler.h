// The LQ120 cooler's display: the saved multi-display cycle and the work
// item that steps through it, the two flags the pipe commands and the
// screen-saver reaction share, and the screen-saver switches.
//
// The cycle mutex is the one lock of the whole service: it guards only the
// saved cycle and its counters, and no device call is made while it is
// held, so a slow or stuck cooler can never block the pipe thread that
// stores a new cycle. The flags and the slot are read without the lock.
//
// The work item wakes only when there is something to do: with no cooler,
// or no cycle to step, it waits until a cycle is stored or the cooler's
// mode changes (a new cooler's set-up sets it too). Between two steps it
// waits its second out; only a new cycle, which restarts the count, ends
// that wait early.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/pass_wait.h"
#include "devices/twlink.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace vt::devices {

inline constexpr uint8_t kNoMode = 0xFF;
inline constexpr uint8_t kMultiDisplayMode = 11;

// What the cycle mutex guards.
struct SavedCycle {
    DisplayCycleRequest request{0, {kNoMode, kNoMode, kNoMode, kNoMode, kNoMode}, 0};
    int32_t modeCount = 0;
    int32_t cycleIndex = 0;
    uint32_t tickCount = 0;
};

class CoolerDisplay {
  public:
    CoolerDisplay(std::atomic<LQ120Device*>& slot, platform::Clock& clock)
        : slot_(slot), wait_(clock) {}

    // Lets the work item wait for the stop and for changes instead of
    // polling; see PassWait.
    bool Attach(platform::Threads& threads, platform::Event& stop) {
        return wait_.Attach(threads, stop);
    }

    // Stores a cycle and restarts it from its first entry; dropped when no
    // cooler is attached.
    void SetDisplayCycle(const DisplayCycleRequest& request);

    // Nonzero while the cooler is in mode 11, the only one that cycles.
    uint8_t cycleActive() const { return cycleActive_.load(); }
    void SetCycleActive(bool active);

    // One pass of the cycle work item: applies the next mode when one is
    // due, then waits: a second after a step, else until there is a cycle
    // to step (polling every 1000 ms without a cooler, 100 ms with one
    // where it cannot wait).
    void CyclePass();

    // The screen saver started (0) or stopped (1): both switches, A then B,
    // when a cooler is attached and it is to follow the screen saver.
    void SwitchForScreenSaver(int32_t value);

    SavedCycle Saved() const;

    std::atomic<uint8_t> screenSaveEnabled{0};

    static constexpr uint32_t kNoCoolerPollMs = 1000;
    static constexpr uint32_t kIdlePollMs = 100;
    static constexpr uint32_t kStepMs = 1000;

  private:
    enum class Step { Idle, Wait, Apply };
    // Under the cycle mutex: counts the pass and picks the mode due, if
    // any; `stored` is the count of cycles stored so far.
    Step Advance(uint8_t& mode, uint64_t& stored);

    std::atomic<LQ120Device*>& slot_;
    std::atomic<uint8_t> cycleActive_{0};
    mutable std::mutex mutex_;
    SavedCycle cycle_;
    // Counts the cycles stored, so a step's wait can tell a restart from
    // other changes.
    uint64_t stored_ = 0;
    PassWait wait_;
};

}  // namespace vt::devices
