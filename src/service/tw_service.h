// The service itself: the one object the entry point builds and the service
// manager drives. OnStart brings up the long-running work items; OnStop ends
// the companion program the service started, raises `stopping` and waits
// until ServiceWorkerThread has seen it.
//
// Shared with other threads without locks: `stopping`, `enabled`,
// `disabled`, `lastHeartbeat`, `companionProcess` (atomics, written by one
// side and polled by the other). `stoppedEvent` is the one synchronisation
// object between OnStop and the work items.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/service_event.h"
#include "devices/device_layer.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "service/tw_service_base.h"

namespace vt::service {

using vt::kServiceName;

class TWService : public TWServiceBase {
  public:
    // Throws SystemError when stoppedEvent cannot be created.
    explicit TWService(const platform::Platform& platform);
    ~TWService() override;

    // Queues object->*fn() as a long-running work item. Throws SystemError
    // when it cannot be queued; nothing is left allocated then. The object's
    // destruction waits for an awaited item to return; the pipe server is
    // not awaited, as it may sit in a wait for a client for good.
    template <class T>
    void QueueMemberWorkItem(void (T::*fn)(), T* object, bool awaited = true);

    // Runs until `stopping` is seen, then signals stoppedEvent.
    void ServiceWorkerThread();
    // One look at `stopping`: false once it is set, else sleeps one period.
    bool ServiceWorkerPass();
    // Serves the desktop application's pipe for the life of the process.
    void PipeWorkerThread();
    // Steps the cooler's display through its saved cycle, one pass about a
    // second, until the service stops.
    void CycleWorkItem();
    // Paints the RX410 mouse's screen from the job file until the service
    // stops.
    void JobThread();
    // Keeps the companion program running while a device needs it; returns
    // once stoppedEvent is signalled.
    void CompanionWatcherThread();

    static constexpr uint32_t kStopPollMs = 2000;
    static constexpr uint32_t kWorkItemsWaitMs = 3000;

    std::atomic<bool> stopping{false};
    std::unique_ptr<platform::Event> stoppedEvent;
    std::atomic<int32_t> enabled{0};
    std::atomic<int32_t> disabled{0};
    std::atomic<uint64_t> lastHeartbeat{0};
    std::atomic<platform::ProcessHandle> companionProcess{platform::kNoProcess};
    // The device library, the device slots and the counters of attached
    // devices; the library's callbacks reach it as the active layer.
    devices::DeviceLayer devices;

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

    const platform::Platform platform_;
    // Awaited work items queued and not yet returned.
    std::atomic<int> workItemsInside_{0};
    ScreenSaverReaction screenSaverReaction_{devices.cooler};
};

template <class T>
void TWService::QueueMemberWorkItem(void (T::*fn)(), T* object, bool awaited) {
    struct Record {
        void (T::*fn)();
        T* object;
        std::atomic<int>* inside;  // null when not awaited
    };
    auto trampoline = [](void* context) {
        std::unique_ptr<Record> record(static_cast<Record*>(context));
        // Nothing may leave a work item: it would end the process, or unwind
        // through the system's thread-pool frames.
        try {
            (record->object->*record->fn)();
        } catch (...) {
        }
        if (record->inside != nullptr) {
            --*record->inside;  // last touch: the object may go right after
        }
    };
    auto record =
        std::make_unique<Record>(Record{fn, object, awaited ? &workItemsInside_ : nullptr});
    if (awaited) {
        ++workItemsInside_;
    }
    if (!platform_.threads.QueueLongRunning(trampoline, record.get())) {
        if (awaited) {
            --workItemsInside_;
        }
        throw SystemError(platform_.threads.LastError());
    }
    record.release();  // the trampoline owns it now
}

}  // namespace vt::service
