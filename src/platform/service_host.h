// The service side of the service manager: the dispatcher that runs the
// service's main function, the control handler registration and status
// reports. One service per process.
#pragma once

#include <cstdint>

#include "platform/service_status.h"

namespace vt::platform {

using ServiceMainFunction = void (*)(uint32_t argc, wchar_t** argv);
using ControlHandlerFunction = void (*)(uint32_t control);
using StatusHandle = void*;

class ServiceHost {
  public:
    // Blocks on the calling thread, delivering controls to the registered
    // handler, until the service has reported SERVICE_STOPPED. `serviceMain`
    // runs on a thread of its own. False when there is no service manager to
    // talk to; LastError() then tells why.
    virtual bool RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) = 0;
    // Null on failure, with LastError() set.
    virtual StatusHandle RegisterControlHandler(const wchar_t* serviceName,
                                                ControlHandlerFunction handler) = 0;
    virtual bool SetStatus(StatusHandle handle, const ServiceStatus& status) = 0;
    virtual uint32_t LastError() = 0;

  protected:
    ~ServiceHost() = default;
};

}  // namespace vt::platform
