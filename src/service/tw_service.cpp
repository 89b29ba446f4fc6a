#include "service/tw_service.h"

#include "oled/oled_job.h"
#include "pipe/device_commands.h"
#include "pipe/pipe_server.h"
#include "service/companion_watcher.h"
#include "service/crash_dump.h"
#include "service/hang_watch.h"
#include "telemetry/sensor_monitor.h"

namespace vt::service {

using platform::EventType;

TWService::TWService(const platform::Platform& platform)
    : TWServiceBase(kServiceName, platform.serviceHost, platform.eventLog),
      devices_(platform.eventLog, platform.console, platform.clock),
      platform_(platform) {
    // Before anything can fail: a crash anywhere in the service, most
    // likely inside the device library, leaves a dump behind. Its folder
    // (which also takes the OLED job's scratch bitmap) is made the service's
    // own now, not at the crash. Without it the service runs on with no
    // dumps and blank text screens rather than write where others could
    // point it; the hook then only ends the process.
    uint32_t error = 0;
    if (!platform_.folders.PrepareServiceFolder(CrashDumpFolder(platform_.folders.DataFolder()),
                                                error)) {
        LogError(L"Prepare service_dmp", error);
    }
    platform_.crashHook.Install(platform_.folders.ServiceFolder());
    devices_.AttachPanel({platform.threads, platform.folders, platform.icmp});
    stoppedEvent_ = platform_.threads.CreateManualResetEvent();
    if (!stoppedEvent_) {
        throw SystemError(platform_.threads.LastError());
    }
    stopRequested_ = platform_.threads.CreateManualResetEvent();
    if (!stopRequested_ || !readings_.valid()) {
        throw SystemError(platform_.threads.LastError());
    }
    if (!devices_.WatchStop(platform_.threads, *stopRequested_)) {
        throw SystemError(platform_.threads.LastError());
    }
    // Without the system's notification service the cooler simply does not
    // follow the screen saver; nothing to report.
    platform_.screenSaver.Subscribe(screenSaverReaction_);
    // Last: a constructor that throws runs no destructor to take the clock
    // back, and the registry is the process's.
    OutsideCalls::Process().SetClock(&platform_.clock);
}

TWService::~TWService() {
    // The work items see the stop at once (their waits end on it; a device
    // call under way is finished first); none may still be running inside
    // the object once it is gone.
    RaiseStop();
    if (!AwaitWorkItems()) {
        // One is still inside an outside call that may never return: it is
        // abandoned. The stop was reported; nothing may be torn down under
        // it, and no library's own clean-up may run while it is inside.
        platform_.processes.EndThisProcess(0);
    }
    stoppedEvent_.reset();
    OutsideCalls::Process().SetClock(nullptr);
    // Before the cooler it reaches goes with the device layer.
    platform_.screenSaver.Unsubscribe();
}

void TWService::NameThread(const char* name) {
    platform_.threads.NameCurrentThread(name);
    OutsideCalls::Process().NameThisThread(name);
}

bool TWService::AwaitWorkItems() {
    constexpr uint32_t kStepMs = 10;
    for (uint32_t waited = 0; workItemsInside_.load() > 0 && waited < kWorkItemsWaitMs;
         waited += kStepMs) {
        platform_.clock.Sleep(kStepMs);
    }
    return workItemsInside_.load() == 0;
}

void TWService::RaiseStop() {
    stopping_ = true;
    stopRequested_->Set();
}

void TWService::OnStart(uint32_t, wchar_t**) {
    LogEvent(L"TWService in OnStart", EventType::Information);
    // Before the first call into the device library.
    HangWatch::StartOnce(platform_.threads, platform_.clock, platform_.eventLog,
                         platform_.crashHook);
    devices::DeviceLayer::SetActive(&devices_);
    devices_.ClearStartSlots();
    // Without the library the service runs on with no devices: the pipe and
    // every other work item still serve.
    if (devices_.Load(platform_.libraries)) {
        devices_.StartLibrary();
        devices_.EnumerateAttached();
    }
    QueueMemberWorkItem(&TWService::StopWatchWorkItem, this);
    try {
        QueueMemberWorkItem(&TWService::PipeWorkItem, this);
        // Hot-plug only once the start-up enumeration is done and the pipe,
        // which reads the slots, is served.
        devices_.RegisterHotPlug();
        QueueMemberWorkItem(&TWService::CoolerCycleWorkItem, this);
        QueueMemberWorkItem(&TWService::OledJobWorkItem, this);
        QueueMemberWorkItem(&TWService::CompanionWorkItem, this);
        QueueMemberWorkItem(&TWService::TelemetryWorkItem, this);
    } catch (const SystemError&) {
        // The service reports stopped and the object goes away with the
        // dispatcher: the work items already running see the stop (the
        // watch at once) and must not outlive it.
        RaiseStop();
        stoppedEvent_->Wait(platform::kInfinite);
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
    devices_.OnServiceStop();
    // Only the copy the service started itself is ended; one the user
    // started is none of our business. Taken out of the slot, the handle is
    // the stop's alone: a watcher pass that saw the last device go cannot
    // end it and let go of it a second time.
    const platform::ProcessHandle companion = companionProcess_.exchange(platform::kNoProcess);
    if (companion != platform::kNoProcess && !EndCompanion(platform_.processes, companion)) {
        LogEvent(L"fail to stop kestrel process in OnStop", EventType::Information);
    }
    RaiseStop();
    if (stoppedEvent_->Wait(platform::kInfinite) != platform::kWaitObject0) {
        throw SystemError(platform_.threads.LastError());
    }
    // A watcher pass that was starting the program when the stop began may
    // have stored its copy after the look above; the watcher ends it only if
    // it saw the flag in time. Either way no copy outlives the service.
    const platform::ProcessHandle late = companionProcess_.exchange(platform::kNoProcess);
    if (late != platform::kNoProcess) {
        EndCompanion(platform_.processes, late);
    }
}

void TWService::CompanionWorkItem() {
    NameThread("vt-companion");
    CompanionWatcher watcher(CompanionShared(), platform_.processes, platform_.folders,
                             platform_.clock);
    while (watcher.Pass()) {
    }
}

void TWService::StopWatchWorkItem() {
    NameThread("vt-stopwatch");
    LogEvent(L"TWservice ServiceWorkerThread", EventType::Information);
    while (StopWatchPass()) {
    }
    stoppedEvent_->Set();
}

void TWService::PipeWorkItem() {
    NameThread("vt-pipe");
    // The pipe thread's own state lives here for as long as it serves.
    pipe::DeviceCommands deviceCommands(devices_);
    pipe::PipeCommands commands(state_, devices_, platform_.clock, platform_.eventLog,
                                &deviceCommands);
    commands.temperatures.feed = &readings_;
    pipe::PipeServer server(platform_.pipes, platform_.eventLog, commands);
    server.Run(*stopRequested_);
}

// The sensor monitor is this thread's alone, from its start to its release:
// an outside library that takes its time holds up no one but this thread.
void TWService::TelemetryWorkItem() {
    NameThread("vt-telemetry");
    telemetry::SensorMonitor sensors(platform_.libraries, platform_.folders, platform_.console,
                                     platform_.eventLog);
    readings_.Run(sensors, *stopRequested_);
}

void TWService::CoolerCycleWorkItem() {
    NameThread("vt-cycle");
    while (!stopping_) {
        devices_.cooler.CyclePass();
    }
}

void TWService::OledJobWorkItem() {
    NameThread("vt-oled");
    // Heap: the job keeps a device list of 50 records for its whole life.
    auto job =
        std::make_unique<oled::OledJob>(state_, devices_,
                                        oled::JobPlatform{platform_.clock, platform_.eventLog,
                                                          platform_.folders, platform_.libraries});
    job->Run(stopping_);
}

bool TWService::StopWatchPass() {
    if (stopping_) {
        return false;
    }
    // Nothing to watch until the stop, which sets the event with the flag. A
    // wait that fails falls back to looking every two seconds.
    if (stopRequested_->Wait(platform::kInfinite) == platform::kWaitFailed) {
        platform_.clock.Sleep(kStopPollMs);
    }
    return true;
}

}  // namespace vt::service
