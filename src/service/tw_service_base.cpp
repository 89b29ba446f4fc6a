#include "service/tw_service_base.h"

#include <string>

#include "common/service_event.h"
#include "common/text.h"
#include "platform/system_error.h"

namespace vt::service {

using platform::EventType;

std::atomic<TWServiceBase*> TWServiceBase::s_current{nullptr};

namespace {
// LogError formats into a buffer of this many wide characters.
constexpr size_t kLogErrorBufferChars = 260;
}  // namespace

TWServiceBase::TWServiceBase(const wchar_t* name, platform::ServiceHost& host,
                             platform::EventLog& eventLog)
    : name_(name), host_(host), eventLog_(eventLog) {
    status_.serviceType = platform::kServiceWin32OwnProcess;
    status_.currentState = platform::kServiceStartPending;
    // Pause and continue are never accepted; this value never changes.
    status_.controlsAccepted = platform::kServiceAcceptStop | platform::kServiceAcceptShutdown;
}

void TWServiceBase::ServiceMain(uint32_t argc, wchar_t** argv) {
    TWServiceBase* service = s_current.load();
    if (service == nullptr) {
        return;
    }
    service->statusHandle_ = service->host_.RegisterControlHandler(service->name_, ControlHandler);
    if (service->statusHandle_ == nullptr) {
        // Without a status handle nothing can be reported to the manager;
        // leave a trace and let the manager time the start out.
        service->LogError(L"RegisterServiceCtrlHandler", service->host_.LastError());
        return;
    }
    service->Start(argc, argv);
}

void TWServiceBase::ControlHandler(uint32_t control) {
    TWServiceBase* service = s_current.load();
    if (service == nullptr) {
        return;
    }
    const bool endsTheService =
        control == platform::kServiceControlStop || control == platform::kServiceControlShutdown;
    if (endsTheService && service->HoldUntilStarted(control)) {
        return;
    }
    switch (control) {
        case platform::kServiceControlStop:
            service->Stop();
            break;
        case platform::kServiceControlPause:
            service->Pause();
            break;
        case platform::kServiceControlContinue:
            service->Continue();
            break;
        case platform::kServiceControlShutdown:
            service->Shutdown();
            break;
        default:
            // Interrogate re-sends nothing; unknown codes are ignored.
            break;
    }
}

template <class Steps>
bool TWServiceBase::Guarded(const wchar_t* operation, const wchar_t* otherFailure, Steps steps,
                            std::optional<uint32_t> fallbackState, bool codeIsExitCode) {
    try {
        steps();
        return true;
    } catch (const SystemError& e) {
        LogError(operation, e.code());
        if (fallbackState) {
            SetStatus(*fallbackState, codeIsExitCode ? e.code() : 0);
        }
    } catch (...) {
        LogEvent(otherFailure, EventType::Error);
        if (fallbackState) {
            SetStatus(*fallbackState, 0);
        }
    }
    return false;
}

// Once the service has reported stopped the process may end at any moment
// (on Windows the dispatcher returns and the object goes): nothing of the
// object is touched after that report, and a control still held is left
// where it is, with nothing to end.
void TWServiceBase::Start(uint32_t argc, wchar_t** argv) {
    const bool running = Guarded(
        L"Service Start", L"Service failed to start.",
        [&] {
            SetStatus(platform::kServiceStartPending, 0);
            OnStart(argc, argv);
            SetStatus(platform::kServiceRunning, 0);
        },
        platform::kServiceStopped, /*codeIsExitCode=*/true);
    if (running) {
        CarryOutHeldControls();
    }
}

bool TWServiceBase::HoldUntilStarted(uint32_t control) {
    uint32_t gate = controlGate_.load();
    while (gate == kControlsHeld) {
        if (controlGate_.compare_exchange_weak(gate, kHeldControl | control)) {
            return true;
        }
    }
    // A control already waits: this one, a stop or a shutdown as well,
    // adds nothing to it.
    return gate != kControlsPass;
}

void TWServiceBase::CarryOutHeldControls() {
    for (;;) {
        uint32_t gate = kControlsHeld;
        if (controlGate_.compare_exchange_strong(gate, kControlsPass)) {
            return;
        }
        // Still held while it runs: a control arriving meanwhile waits for
        // it, and is carried out next only if this one failed.
        controlGate_.store(kControlsHeld);
        const bool stopped =
            (gate & ~kHeldControl) == platform::kServiceControlStop ? Stop() : Shutdown();
        if (stopped) {
            return;
        }
    }
}

bool TWServiceBase::Stop() {
    // A failed stop goes back to the state the stop found.
    const uint32_t stateBefore = status_.currentState;
    return Guarded(
        L"Service Stop", L"Service failed to stop.",
        [&] {
            SetStatus(platform::kServiceStopPending, 0);
            OnStop();
            SetStatus(platform::kServiceStopped, 0);
        },
        stateBefore);
}

void TWServiceBase::Pause() {
    Guarded(
        L"Service Pause", L"Service failed to pause.",
        [&] {
            SetStatus(platform::kServicePausePending, 0);
            OnPause();
            SetStatus(platform::kServicePaused, 0);
        },
        platform::kServiceRunning);
}

void TWServiceBase::Continue() {
    Guarded(
        L"Service Continue", L"Service failed to resume.",
        [&] {
            SetStatus(platform::kServiceContinuePending, 0);
            OnContinue();
            SetStatus(platform::kServiceRunning, 0);
        },
        platform::kServicePaused);
}

// No pending report first, and no status change when the hook fails.
bool TWServiceBase::Shutdown() {
    return Guarded(
        L"Service Shutdown", L"Service failed to shut down.",
        [&] {
            OnShutdown();
            SetStatus(platform::kServiceStopped, 0);
        },
        std::nullopt);
}

void TWServiceBase::SetStatus(uint32_t state, uint32_t exitCode) {
    status_.currentState = state;
    status_.win32ExitCode = exitCode;
    status_.waitHint = 0;
    if (state == platform::kServiceRunning || state == platform::kServiceStopped) {
        status_.checkPoint = 0;
    } else {
        status_.checkPoint = checkPointCounter_.fetch_add(1);
    }
    host_.SetStatus(statusHandle_, status_);
}

void TWServiceBase::LogEvent(std::wstring_view message, EventType type) {
    WriteServiceEvent(eventLog_, name_, type, message);
}

void TWServiceBase::LogError(std::wstring_view functionName, uint32_t errorCode) {
    LogEvent(FitBuffer(FailedWithError(functionName, errorCode), kLogErrorBufferChars),
             EventType::Error);
}

void TWServiceBase::OnStart(uint32_t, wchar_t**) {}
void TWServiceBase::OnStop() {}
void TWServiceBase::OnPause() {}
void TWServiceBase::OnContinue() {}
void TWServiceBase::OnShutdown() {}

}  // namespace vt::service
