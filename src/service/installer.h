// The program as its own installer: register, start and configure, stop and
// delete the service through the service manager, reporting every failure on
// the console. Runs on the console's thread only.
#pragma once

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/scm.h"

namespace vt::service {

inline constexpr wchar_t kDisplayName[] = L"Tarnwick Veltrace Technology Service";
inline constexpr wchar_t kDescription[] = L"Tarnwick Service";
inline constexpr uint32_t kRecoveryResetSeconds = 86400;
inline constexpr uint32_t kRecoveryRestarts = 3;
inline constexpr uint32_t kRecoveryRestartDelayMs = 5000;
// Error, warning and information: every entry type the service writes.
inline constexpr uint32_t kEventTypesSupported = 7;

class Installer {
  public:
    Installer(platform::ServiceControlManager& scm, platform::Console& console,
              platform::Clock& clock);

    // Registers the service and its event source (the program itself holds
    // the message table), makes the data folders the system's (one line
    // per folder taken over from a user), then always tries
    // StartAndConfigure, so an install over an existing registration starts
    // it all the same.
    void Install();
    // Starts the service; only when the start is accepted are the
    // description and the recovery actions written.
    void StartAndConfigure();
    // Stops the service if it runs, then deletes it whatever the stop gave;
    // once it is deleted, or when there is none, its event source goes too.
    void Remove();

  private:
    void PrintFailure(const wchar_t* what, uint32_t code);
    void RemoveEventSource();

    platform::ServiceControlManager& scm_;
    platform::Console& console_;
    platform::Clock& clock_;
};

}  // namespace vt::service
