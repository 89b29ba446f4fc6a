// Conversions between the core's status record and SERVICE_STATUS.
#pragma once

#include <windows.h>

#include "platform/service_status.h"

namespace vt::platform::win32 {

inline SERVICE_STATUS ToNative(const ServiceStatus& status) {
    SERVICE_STATUS s{};
    s.dwServiceType = status.serviceType;
    s.dwCurrentState = status.currentState;
    s.dwControlsAccepted = status.controlsAccepted;
    s.dwWin32ExitCode = status.win32ExitCode;
    s.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    s.dwCheckPoint = status.checkPoint;
    s.dwWaitHint = status.waitHint;
    return s;
}

inline ServiceStatus FromNative(const SERVICE_STATUS& s) {
    ServiceStatus status;
    status.serviceType = s.dwServiceType;
    status.currentState = s.dwCurrentState;
    status.controlsAccepted = s.dwControlsAccepted;
    status.win32ExitCode = s.dwWin32ExitCode;
    status.serviceSpecificExitCode = s.dwServiceSpecificExitCode;
    status.checkPoint = s.dwCheckPoint;
    status.waitHint = s.dwWaitHint;
    return status;
}

}  // namespace vt::platform::win32
