// The LQ120 cooler's display: the saved multi-display cycle and the work
// item that steps through it, the two flags the pipe commands and the
// screen-saver reaction share, and the screen-saver switches.
//
// The cycle mutex is the one lock of the whole service: it guards only the
// saved cycle and its counters, and no device call is made while it is
// held, so a slow or stuck cooler can never block the pipe thread that
// stores a new cycle. The flags and the slot are read without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "devices/twlink.h"
#include "platform/clock.h"

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
    explicit CoolerDisplay(std::atomic<LQ120Device*>& slot) : slot_(slot) {}

    // Stores a cycle and restarts it from its first entry; dropped when no
    // cooler is attached.
    void SetDisplayCycle(const DisplayCycleRequest& request);

    // One pass of the cycle work item: applies the next mode when one is
    // due, then sleeps (1000 ms without a cooler or after a step, 100 ms
    // while the cycle is idle).
    void CyclePass(platform::Clock& clock);

    // The screen saver started (0) or stopped (1): both switches, A then B,
    // when a cooler is attached and it is to follow the screen saver.
    void SwitchForScreenSaver(int32_t value);

    SavedCycle Saved() const;

    std::atomic<uint8_t> screenSaveEnabled{0};
    std::atomic<uint8_t> cycleActive{0};

    static constexpr uint32_t kNoCoolerPollMs = 1000;
    static constexpr uint32_t kIdlePollMs = 100;
    static constexpr uint32_t kStepMs = 1000;

  private:
    enum class Step { Idle, Wait, Apply };
    // Under the cycle mutex: counts the pass and picks the mode due, if any.
    Step Advance(uint8_t& mode);

    std::atomic<LQ120Device*>& slot_;
    mutable std::mutex mutex_;
    SavedCycle cycle_;
};

}  // namespace vt::devices
