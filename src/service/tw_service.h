// The service itself: the one object the entry point builds and the service
// manager drives. OnStart brings up the long-running work items; OnStop ends
// the companion program the service started, raises the stop and waits
// until the stop watch has seen it.
//
// Shared with other threads without locks: `stopping`, the service state
// and the companion process (atomics, written by one side and read by the
// other). No work item polls: each waits for the event that ends its wait
// (a change woken by its writer, its period, or the stop request, which
// ends every wait that must end with the service); the stopped event is set
// once the stop watch has seen the stop.
//
// Destruction, in this order: the stop is raised; every work item is awaited
// (bounded: one still inside an outside call after the bound ends the process
// there and then, without any clean-up); the screen saver's delivery ends; then the device layer waits
// for the library's callbacks still inside it. Nothing of the service runs
// after the object is gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/outside_calls.h"
#include "common/service_event.h"
#include "common/service_state.h"
#include "devices/device_layer.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "service/companion_watcher.h"
#include "service/tw_service_base.h"
#include "telemetry/readings_feed.h"

namespace vt::service {

using vt::kServiceName;

class TWService : public TWServiceBase {
  public:
    // Throws SystemError when the stop events cannot be created.
    explicit TWService(const platform::Platform& platform);
    ~TWService() override;

    // Raises `stopping` and sets the stop request.
    void RaiseStop();
    // Waits, at most kWorkItemsWaitMs, until every work item has returned;
    // false when one is still running then (inside a call that does not
    // return).
    bool AwaitWorkItems();

    // The stop watch: runs until `stopping` is seen, then signals the
    // stopped event.
    void StopWatchWorkItem();
    // One look at `stopping`: false once it is set, else waits for the
    // stop.
    bool StopWatchPass();

    bool stopping() const { return stopping_; }
    // Set once the stop watch has seen the stop.
    platform::Event& stoppedEvent() { return *stoppedEvent_; }
    ServiceState& state() { return state_; }
    // The companion program the service started; kNoProcess: none.
    std::atomic<platform::ProcessHandle>& companionProcess() { return companionProcess_; }
    // The device library, the device slots and the counters of attached
    // devices; the library's callbacks reach it as the active layer.
    devices::DeviceLayer& devices() { return devices_; }
    // What the companion watcher shares with the service.
    CompanionWatcher::Shared CompanionShared() {
        return {*stoppedEvent_, stopping_, devices_.companionDeviceCount, devices_.companionWait,
                companionProcess_};
    }

    static constexpr uint32_t kStopPollMs = 2000;
    static constexpr uint32_t kWorkItemsWaitMs = 3000;

  protected:
    void OnStart(uint32_t argc, wchar_t** argv) override;
    void OnStop() override;
    void OnShutdown() override;

  private:
    // The cooler follows the session's screen saver.
    class ScreenSaverReaction final : public platform::ScreenSaverSink {
      public:
        explicit ScreenSaverReaction(devices::CoolerDisplay& cooler) : cooler_(cooler) {}
        void ScreenSaverStarted() override { cooler_.SwitchForScreenSaver(0); }
        void ScreenSaverStopped() override { cooler_.SwitchForScreenSaver(1); }

      private:
        devices::CoolerDisplay& cooler_;
    };

    // For debuggers and the system, and for the hang watch's reports.
    void NameThread(const char* name);

    // Queues object->*fn() as a long-running work item. Throws SystemError
    // when it cannot be queued; nothing is left allocated then. The object's
    // destruction waits for the item to return.
    template <class T>
    void QueueMemberWorkItem(void (T::*fn)(), T* object);

    // The work items besides the stop watch, each until the service stops:
    // serves the desktop application's pipe;
    void PipeWorkItem();
    // steps the cooler's display through its saved cycle;
    void CoolerCycleWorkItem();
    // paints the RX410 mouse's screen from the job file;
    void OledJobWorkItem();
    // keeps the companion program running while a device needs it;
    void CompanionWorkItem();
    // takes the hardware readings the pipe answers from.
    void TelemetryWorkItem();

    std::atomic<bool> stopping_{false};
    std::unique_ptr<platform::Event> stoppedEvent_;
    // Set the moment the stop begins; before `devices_`, which waits on it.
    std::unique_ptr<platform::Event> stopRequested_;
    ServiceState state_;
    std::atomic<platform::ProcessHandle> companionProcess_{platform::kNoProcess};
    devices::DeviceLayer devices_;
    const platform::Platform platform_;
    // Filled by the telemetry work item, read by the pipe's.
    telemetry::ReadingsFeed readings_{platform_.threads, platform_.clock};
    // Work items queued and not yet returned.
    std::atomic<int> workItemsInside_{0};
    ScreenSaverReaction screenSaverReaction_{devices_.cooler};
};

template <class T>
void TWService::QueueMemberWorkItem(void (T::*fn)(), T* object) {
    struct Record {
        void (T::*fn)();
        T* object;
        std::atomic<int>* inside;
    };
    auto trampoline = [](void* context) {
        std::unique_ptr<Record> record(static_cast<Record*>(context));
        // Nothing may leave a work item: it would end the process, or unwind
        // through the system's thread-pool frames.
        try {
            (record->object->*record->fn)();
        } catch (...) {
        }
        --*record->inside;  // last touch of the object: it may go right after
    };
    auto record = std::make_unique<Record>(Record{fn, object, &workItemsInside_});
    ++workItemsInside_;
    if (!platform_.threads.QueueLongRunning(trampoline, record.get())) {
        --workItemsInside_;
        throw SystemError(platform_.threads.LastError());
    }
    record.release();  // the trampoline owns it now
}

}  // namespace vt::service
