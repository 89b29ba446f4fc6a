// The generic half of the service: connects one service object to the
// service manager, turns controls into calls of the virtual hooks, reports
// status with the check-point rule and writes event-log entries.
//
// Threads: ServiceMain and so Start/OnStart run on the dispatcher's service
// thread; ControlHandler and so Stop/OnStop run on the dispatcher (main)
// thread. A stop or shutdown that arrives while the start still runs is
// held and carried out on the service thread once the start has reported
// its state: run at once, its STOPPED could be followed by the start's
// RUNNING. LogEvent and LogError may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/event_log.h"
#include "platform/service_host.h"
#include "platform/service_status.h"

namespace vt::service {

class TWServiceBase {
  public:
    TWServiceBase(const wchar_t* name, platform::ServiceHost& host, platform::EventLog& eventLog);
    virtual ~TWServiceBase() = default;
    TWServiceBase(const TWServiceBase&) = delete;
    TWServiceBase& operator=(const TWServiceBase&) = delete;

    // The entry of the dispatcher table and the control handler; both act on
    // s_current, which the entry point sets before the dispatcher starts.
    static void ServiceMain(uint32_t argc, wchar_t** argv);
    static void ControlHandler(uint32_t control);
    static std::atomic<TWServiceBase*> s_current;

    // The wrappers: report pending, run the hook, report the result. A hook's
    // failure never escapes; it becomes an event entry and a status. Stop
    // and Shutdown are true when the service reported stopped.
    void Start(uint32_t argc, wchar_t** argv);
    bool Stop();
    void Pause();
    void Continue();
    bool Shutdown();

    void SetStatus(uint32_t state, uint32_t exitCode);
    void LogEvent(std::wstring_view message, platform::EventType type);
    void LogError(std::wstring_view functionName, uint32_t errorCode);

    const wchar_t* name() const { return name_; }
    const platform::ServiceStatus& status() const { return status_; }

  protected:
    virtual void OnStart(uint32_t argc, wchar_t** argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();

  private:
    // Runs `steps` inside the one guard every wrapper has: a thrown error
    // code is logged as "<operation> failed w/err ...", anything else as
    // `otherFailure`; either then reports `fallbackState` if there is one,
    // with the code as exit code only when `codeIsExitCode`. True when
    // `steps` ran through.
    template <class Steps>
    bool Guarded(const wchar_t* operation, const wchar_t* otherFailure, Steps steps,
                 std::optional<uint32_t> fallbackState, bool codeIsExitCode = false);

    // ControlHandler's side of the hold: true when `control` waits for the
    // start (or another held control already stands for it).
    bool HoldUntilStarted(uint32_t control);
    // Start's side, once it reported running: carries out what was held,
    // then lets controls through.
    void CarryOutHeldControls();

    const wchar_t* name_;
    platform::ServiceHost& host_;
    platform::EventLog& eventLog_;
    platform::ServiceStatus status_;
    platform::StatusHandle statusHandle_ = nullptr;
    // Starts at 1 and is never reset: every pending report of the process
    // takes the next value. There is one service object per process, so the
    // counter lives with it rather than in a static a test could not reset.
    std::atomic<uint32_t> checkPointCounter_{1};
    // kControlsHeld until the start has reported and what was held is done,
    // kControlsPass after; while held, kHeldControl | the one control that
    // waits. Only the dispatcher thread moves it from kControlsHeld to a
    // held control, only the service thread moves it back or on to
    // kControlsPass, so a held control runs once and never beside another.
    static constexpr uint32_t kControlsPass = 0;
    static constexpr uint32_t kControlsHeld = 1;
    static constexpr uint32_t kHeldControl = 0x10000;
    std::atomic<uint32_t> controlGate_{kControlsHeld};
};

}  // namespace vt::service
