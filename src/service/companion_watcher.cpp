#include "service/companion_watcher.h"

#include <string>

namespace vt::service {

using platform::kNoProcess;

bool CompanionWatcher::Pass() {
    // A failed wait counts as a time-out: the watcher goes on. Such a wait
    // can never see the stop, so then the flag stands in for the event, or
    // the watcher would spin on after the service stopped.
    const uint32_t waited = shared_.stoppedEvent.Wait(kPassWaitMs);
    if (waited == platform::kWaitObject0 ||
        (waited != platform::kWaitTimeout && shared_.stopping.load())) {
        return false;
    }
    shared_.countChanged.Rearm();
    if (shared_.companionDeviceCount.load() == 0) {
        const platform::ProcessHandle held = shared_.companionProcess.exchange(kNoProcess);
        if (held != kNoProcess) {
            EndCompanion(processes_, held);  // a failure is of no use to anyone
        }
        // Nothing to look after until a device that needs the program
        // arrives: its count wakes the watcher (which then waits its two
        // seconds and looks, as it does from the start).
        shared_.countChanged.WaitForWake(kIdleSleepMs);
        return true;
    }
    // Exact and case-sensitive: a program of the same name in other case is
    // somebody else's. A list that cannot be taken counts as a miss.
    if (processes_.ProgramRuns(processes_.FileName(kCompanionProgram))) {
        missCounter_ = 0;
    }
    if (missCounter_ < kMissesBeforeStart) {
        ++missCounter_;
        return true;
    }
    // Once the stop has begun, OnStop has already ended the copy it held; a
    // copy started now would outlive the service.
    if (!shared_.stopping.load()) {
        StartCompanion();
    }
    missCounter_ = 0;
    return true;
}

void CompanionWatcher::StartCompanion() {
    const std::string path =
        folders_.ProgramFolder() + folders_.Separator() + processes_.FileName(kCompanionProgram);
    const platform::ProcessHandle previous = shared_.companionProcess.exchange(kNoProcess);
    if (previous != kNoProcess) {
        processes_.Release(previous);
    }
    const platform::ProcessHandle started = processes_.LaunchInUserSession(path);
    shared_.companionProcess.store(started);
    // The stop may have begun while the program was starting, after OnStop
    // looked at the handle: then this copy is ours to end. OnStop looks again
    // once the stop watch has finished, which covers the other order.
    if (started != kNoProcess && shared_.stopping.load()) {
        const platform::ProcessHandle late = shared_.companionProcess.exchange(kNoProcess);
        if (late != kNoProcess) {
            EndCompanion(processes_, late);
        }
    }
}

}  // namespace vt::service
