#include "service/tw_service.h"

namespace vt::service {

using platform::EventType;

TWService::TWService(const platform::Platform& platform)
    : TWServiceBase(kServiceName, platform.serviceHost, platform.eventLog), platform_(platform) {
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
    // The device library comes up and the attached devices are dispatched
    // here, before any work item can look at the device slots.
    QueueMemberWorkItem(&TWService::ServiceWorkerThread, this);
}

void TWService::OnStop() {
    LogEvent(L"TWservice in OnStop", EventType::Information);
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

bool TWService::ServiceWorkerPass() {
    if (stopping) {
        return false;
    }
    platform_.clock.Sleep(kStopPollMs);
    return true;
}

}  // namespace vt::service
