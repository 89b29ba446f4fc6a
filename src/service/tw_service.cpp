#include "service/tw_service.h"

#include "pipe/pipe_server.h"
#include "telemetry/sensor_monitor.h"

namespace vt::service {

using platform::EventType;

TWService::TWService(const platform::Platform& platform)
    : TWServiceBase(kServiceName, platform.serviceHost, platform.eventLog),
      devices(platform.eventLog, platform.console, platform.clock),
      platform_(platform) {
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
}

void TWService::ServiceWorkerThread() {
    LogEvent(L"TWservice ServiceWorkerThread", EventType::Information);
    while (ServiceWorkerPass()) {
    }
    stoppedEvent->Set();
}

void TWService::PipeWorkerThread() {
    // The pipe thread's own state lives here for as long as it serves.
    telemetry::SensorMonitor sensors(platform_.libraries, platform_.folders, platform_.console,
                                     platform_.eventLog);
    pipe::PipeCommands commands({enabled, disabled, lastHeartbeat}, devices, platform_.clock,
                                platform_.eventLog, nullptr);
    commands.sensors = &sensors;
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
