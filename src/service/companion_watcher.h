// Keeps the companion program running while a device that needs it is
// attached, and ends the copy the service started once the last such device
// is gone. A copy the user started counts as running and is left alone.
//
// Each pass waits up to two seconds for the stop. A pass that finds no copy
// raises a miss counter that starts at -1; when it reaches 5 the program is
// started from the service's folder in the console user's session and the
// counter goes back to 0. So the first start comes on the seventh pass, a
// restart on the fifth pass that misses the program, and a failed start is
// retried on the sixth pass after it.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/pass_wait.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/threads.h"

namespace vt::service {

inline constexpr platform::ProgramName kCompanionProgram{"tw-nightjar.exe", "tw-nightjar"};

// Ends the copy the service started and lets go of it, whether or not it
// could be ended: nobody follows it afterwards, and a handle kept would be
// one more left behind for every device removal. The caller took `process`
// out of the shared slot, so nobody else ends or lets go of it. False when
// it could not be ended.
inline bool EndCompanion(platform::Processes& processes, platform::ProcessHandle process) {
    const bool ended = processes.Terminate(process, 0);
    processes.Release(process);
    return ended;
}

class CompanionWatcher {
  public:
    struct Shared {
        platform::Event& stoppedEvent;
        const std::atomic<bool>& stopping;
        const std::atomic<int32_t>& companionDeviceCount;
        // Woken whenever companionDeviceCount changes.
        PassWait& countChanged;
        std::atomic<platform::ProcessHandle>& companionProcess;
    };

    CompanionWatcher(Shared shared, platform::Processes& processes, platform::Folders& folders,
                     platform::Clock& clock)
        : shared_(shared), processes_(processes), folders_(folders), clock_(clock) {}

    // One pass; false once stoppedEvent is signalled.
    bool Pass();
    int32_t missCounter() const { return missCounter_; }

    static constexpr uint32_t kPassWaitMs = 2000;
    static constexpr uint32_t kIdleSleepMs = 10;
    static constexpr int32_t kMissesBeforeStart = 5;

  private:
    void StartCompanion();

    Shared shared_;
    platform::Processes& processes_;
    platform::Folders& folders_;
    platform::Clock& clock_;
    int32_t missCounter_ = -1;
};

}  // namespace vt::service
