#include <windows.h>

#include <atomic>

#include "platform/win32/status_win.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinServiceHost final : public ServiceHost {
  public:
    bool RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;
    StatusHandle RegisterControlHandler(const wchar_t* serviceName,
                                        ControlHandlerFunction handler) override;
    bool SetStatus(StatusHandle handle, const ServiceStatus& status) override;
    uint32_t LastError() override;
};

namespace {

// One service per process: the dispatcher and the handler reach the core's
// functions through these, so the core needs no Windows calling convention.
ServiceMainFunction g_serviceMain = nullptr;
// Written on the service thread, read on the dispatcher thread.
std::atomic<ControlHandlerFunction> g_controlHandler{nullptr};

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv) {
    g_serviceMain(static_cast<uint32_t>(argc), argv);
}

void WINAPI ControlHandlerTrampoline(DWORD control) {
    if (ControlHandlerFunction handler = g_controlHandler.load()) {
        handler(static_cast<uint32_t>(control));
    }
}

}  // namespace

bool WinServiceHost::RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) {
    g_serviceMain = serviceMain;
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(serviceName), ServiceMainTrampoline},
        {nullptr, nullptr},
    };
    return ::StartServiceCtrlDispatcherW(table) != FALSE;
}

StatusHandle WinServiceHost::RegisterControlHandler(const wchar_t* serviceName,
                                                    ControlHandlerFunction handler) {
    g_controlHandler = handler;
    return ::RegisterServiceCtrlHandlerW(serviceName, ControlHandlerTrampoline);
}

bool WinServiceHost::SetStatus(StatusHandle handle, const ServiceStatus& status) {
    SERVICE_STATUS s = ToNative(status);
    return ::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &s) != FALSE;
}

uint32_t WinServiceHost::LastError() {
    return ::GetLastError();
}

ServiceHost& SystemServiceHost() {
    static WinServiceHost serviceHost;
    return serviceHost;
}

}  // namespace vt::platform::win32
