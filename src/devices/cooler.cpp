#include "common/outside_calls.h"
#include "devices/cooler.h"

namespace vt::devices {

void CoolerDisplay::SetDisplayCycle(const DisplayCycleRequest& request) {
    if (slot_.load() == nullptr) {
        return;
    }
    int32_t count = 0;
    while (count < 5 && request.modes[count] != kNoMode) {
        ++count;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cycle_.request = request;
        cycle_.modeCount = count;
        cycle_.cycleIndex = 0;
        cycle_.tickCount = 0;
        ++stored_;
    }
    wait_.Wake();  // the new cycle's first mode is due now
}

void CoolerDisplay::SetCycleActive(bool active) {
    cycleActive_ = active ? 1 : 0;
    wait_.Wake();
}

CoolerDisplay::Step CoolerDisplay::Advance(uint8_t& mode, uint64_t& stored) {
    std::lock_guard<std::mutex> lock(mutex_);
    stored = stored_;
    // Looked at under the lock: the pipe thread may be storing a cycle.
    if (cycleActive_.load() == 0 || cycle_.modeCount <= 0 || cycle_.request.duration == 0) {
        return Step::Idle;
    }
    if (cycle_.modeCount == 1 && cycle_.cycleIndex > 0) {
        // A single mode is shown once; repeating it would only make the
        // display flicker. Nothing is due until the next cycle is stored.
        return Step::Idle;
    }
    const uint32_t tick = cycle_.tickCount++;
    if (tick % cycle_.request.duration != 0) {
        return Step::Wait;
    }
    const int32_t i = cycle_.cycleIndex % cycle_.modeCount;
    mode = cycle_.request.modes[i];
    cycle_.cycleIndex = i + 1;
    return Step::Apply;
}

void CoolerDisplay::CyclePass() {
    wait_.Rearm();
    LQ120Device* device = slot_.load();
    if (device == nullptr) {
        wait_.WaitForWake(kNoCoolerPollMs);
        return;
    }
    uint8_t mode = 0;
    uint64_t stored = 0;
    const Step step = Advance(mode, stored);
    if (step == Step::Idle) {
        wait_.WaitForWake(kIdlePollMs);
        return;
    }
    if (step == Step::Apply) {
        try {
            OutsideCall call("LQ120 SetCycleMode/SetDisplayMode");
            device->SetCycleMode(mode);
            device->SetDisplayMode(&mode);
        } catch (...) {
            // A failing cooler must not end the cycle: the next step retries.
        }
    }
    wait_.WaitPeriod(kStepMs, kStepMs, [this, stored] {
        std::lock_guard<std::mutex> lock(mutex_);
        return stored_ != stored;
    });
}

void CoolerDisplay::SwitchForScreenSaver(int32_t value) {
    LQ120Device* device = slot_.load();
    if (device == nullptr || screenSaveEnabled.load() == 0) {
        return;
    }
    try {
        OutsideCall call("LQ120 SetSaverSwitch");
        device->SetSaverSwitchA(value);
        device->SetSaverSwitchB(value);
    } catch (...) {
        // The notification comes from the system; nothing to report it to.
    }
}

SavedCycle CoolerDisplay::Saved() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cycle_;
}

}  // namespace vt::devices
