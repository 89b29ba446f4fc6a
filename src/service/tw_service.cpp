#include "service/tw_service.h"

#include "pipe/pipe_server.h"
#include "service/companion_watcher.h"
#include "service/crash_dump.h"

namespace vt::service {

using platform::EventType;

TWService::TWService(const platform::Platform& platform)
    : TWServiceBase(kServiceName, platform.serviceHost, platform.eventLog),
      devices(platform.eventLog, platform.console, platform.clock),
      platform_(platform) {
    // Before anything can fail: a crash anywhere in the service, most
    // likely inside the device library, leaves a dump behind.
    platform_.crashHook.Install(CrashDumpFolder(platform_.folders.DataFolder()));
    stoppedEvent = platform_.threads.CreateManualResetEvent();
    if (!stoppedEvent) {
        throw SystemError(platform_.threads.LastError());
    }
}

TWService::~TWService() {
    stoppedEvent.reset();
}

void TWService::OnStart(uint32_t, wchar_t**) {
    LogEvent(L"TWService in OnStart", EventType::Information);
    devices::DeviceLayer::SetActive(&devices);
    devices.ClearStartSlots();
    // Without the library the service runs on with no devices: the pipe and
    // every other work item still serve.
    if (devices.Load(platform_.libraries)) {
        devices.StartLibrary();
        devices.EnumerateAttached();
    }
    QueueMemberWorkItem(&TWService::ServiceWorkerThread, this);
    try {
        QueueMemberWorkItem(&TWService::PipeWorkerThread, this);
    } catch (const SystemError&) {
        // The service reports stopped and the object goes away with the
        // dispatcher: the stop watch already running must not outlive it.
        stopping = true;
        stoppedEvent->Wait(platform::kInfinite);
        throw;
    }
    // Hot-plug only once the start-up enumeration is done and the work
    // items that read the slots are queued.
    devices.RegisterHotPlug();
    QueueAfterStopWatch(&TWService::CompanionWatcherThread);
}

void TWService::QueueAfterStopWatch(void (TWService::*fn)()) {
    try {
        QueueMemberWorkItem(fn, this);
    } catch (const SystemError&) {
        stopping = true;
        stoppedEvent->Wait(platform::kInfinite);
        throw;
    }
}

// A system shutdown ends the service as a stop does: the companion program
// is ended and the stop watch has finished before the object goes away.
void TWService::OnShutdown() {
    OnStop();
}

void TWService::OnStop() {
    LogEvent(L"TWservice in OnStop", EventType::Information);
    devices.OnServiceStop();
    // Only the copy the service started itself is ended; one the user
    // started is none of our business.
    const platform::ProcessHandle companion = companionProcess.load();
    if (companion != platform::kNoProcess && !platform_.processes.Terminate(companion, 0)) {
        LogEvent(L"fail to stop kestrel process in OnStop", EventType::Information);
    }
    stopping = true;
    if (stoppedEvent->Wait(platform::kInfinite) != platform::kWaitObject0) {
        throw SystemError(platform_.threads.LastError());
    }
    // A watcher pass that was starting the program when the stop began may
    // have stored its copy after the look above; the watcher ends it only if
    // it saw the flag in time. Either way no copy outlives the service.
    platform::ProcessHandle late = companionProcess.load();
    if (late != platform::kNoProcess && late != companion &&
        companionProcess.compare_exchange_strong(late, platform::kNoProcess)) {
        platform_.processes.Terminate(late, 0);
    }
}

void TWService::CompanionWatcherThread() {
    CompanionWatcher watcher(
        {*stoppedEvent, stopping, devices.companionDeviceCount, companionProcess},
        platform_.processes, platform_.folders, platform_.clock);
    while (watcher.Pass()) {
    }
}

void TWService::ServiceWorkerThread() {
    LogEvent(L"TWservice ServiceWorkerThread", EventType::Information);
    while (ServiceWorkerPass()) {
    }
    stoppedEvent->Set();
}

void TWService::PipeWorkerThread() {
    // The pipe thread's own state lives here for as long as it serves.
    pipe::PipeCommands commands({enabled, disabled, lastHeartbeat}, devices, platform_.clock,
                                platform_.eventLog, nullptr);
    pipe::PipeServer server(platform_.pipes, platform_.eventLog, platform_.clock, commands);
    server.Run(stopping);
}

bool TWService::ServiceWorkerPass() {
    if (stopping) {
        return false;
    }
    platform_.clock.Sleep(kStopPollMs);
    return true;
}

}  // namespace vt::service
