#include "service/installer.h"

#include <string>

#include "common/text.h"
#include "platform/system_error.h"
#include "service/tw_service.h"

namespace vt::service {

using namespace platform;

namespace {
constexpr uint32_t kStopPollMs = 1000;
}

Installer::Installer(ServiceControlManager& scm, Console& console, Clock& clock)
    : scm_(scm), console_(console), clock_(clock) {}

void Installer::PrintFailure(const wchar_t* what, uint32_t code) {
    console_.Print(FailedWithError(what, code) + L"\n");
}

void Installer::RemoveEventSource() {
    if (!scm_.DeleteEventSource(kServiceName)) {
        PrintFailure(L"Event source removal", scm_.LastError());
    }
}

void Installer::Install() {
    std::wstring path;
    if (!scm_.ModulePath(path)) {
        PrintFailure(L"GetModuleFileName", scm_.LastError());
        StartAndConfigure();
        return;
    }
    ScHandle manager = scm_.OpenManager(kScManagerConnect | kScManagerCreateService);
    if (manager == nullptr) {
        PrintFailure(L"OpenSCManager", scm_.LastError());
        StartAndConfigure();
        return;
    }
    ServiceConfig config;
    config.name = kServiceName;
    config.displayName = kDisplayName;
    config.serviceType = kServiceWin32OwnProcess;
    config.startType = kServiceAutoStart;
    config.errorControl = kServiceErrorNormal;
    // Quoted: an unquoted path with a space ("C:\Program Files\...") lets the
    // manager try "C:\Program.exe" first, as LocalSystem.
    config.binaryPath = L"\"" + path + L"\"";
    ScHandle service = scm_.CreateService(manager, config, kServiceQueryStatus);
    if (service == nullptr) {
        PrintFailure(L"CreateService", scm_.LastError());
    } else {
        console_.Print(std::wstring(kServiceName) + L" is installed.\n");
    }
    scm_.CloseHandle(manager);
    if (service != nullptr) {
        scm_.CloseHandle(service);
    }
    // Also over an existing registration: the source then names the program
    // being installed, wherever an earlier copy was.
    if (!scm_.AddEventSource(kServiceName, path, kEventTypesSupported)) {
        PrintFailure(L"Event source registration", scm_.LastError());
    }
    // Before the service starts: it trusts the way to its data folder only
    // when the system owns it, and a user could have made these folders
    // before the product came.
    std::vector<std::wstring> takenOver;
    if (!scm_.SecureDataFolders(takenOver)) {
        PrintFailure(L"Data folder preparation", scm_.LastError());
    }
    for (const std::wstring& folder : takenOver) {
        console_.Print(folder + L" belonged to a user: taken over for the administrators.\n");
    }
    StartAndConfigure();
}

void Installer::StartAndConfigure() {
    ScHandle manager = scm_.OpenManager(kScManagerAllAccess);
    if (manager == nullptr) {
        PrintFailure(L"OpenSCManager", scm_.LastError());
        return;
    }
    ScHandle service =
        scm_.OpenService(manager, kServiceName,
                         kServiceStart | kServiceQueryStatus | kServiceChangeConfig | kDelete);
    if (service == nullptr) {
        PrintFailure(L"OpenService", scm_.LastError());
        scm_.CloseHandle(manager);
        return;
    }
    // A refused start (already running, disabled, ...) prints nothing and
    // leaves the configuration alone.
    if (scm_.StartService(service)) {
        console_.Print(std::wstring(kServiceName) + L" is running.\n");
        scm_.SetDescription(service, kDescription);
        FailureActions actions;
        actions.resetPeriodSeconds = kRecoveryResetSeconds;
        actions.restartCount = kRecoveryRestarts;
        actions.restartDelayMs = kRecoveryRestartDelayMs;
        scm_.SetFailureActions(service, actions);
    }
    scm_.CloseHandle(manager);
    scm_.CloseHandle(service);
}

void Installer::Remove() {
    ScHandle manager = scm_.OpenManager(kScManagerConnect);
    if (manager == nullptr) {
        PrintFailure(L"OpenSCManager", scm_.LastError());
        return;
    }
    ScHandle service =
        scm_.OpenService(manager, kServiceName, kServiceStop | kServiceQueryStatus | kDelete);
    if (service == nullptr) {
        const uint32_t error = scm_.LastError();
        PrintFailure(L"OpenService", error);
        scm_.CloseHandle(manager);
        // An install whose registration failed may still have written the
        // event source; with no service left it goes too.
        if (error == kErrorServiceDoesNotExist) {
            RemoveEventSource();
        }
        return;
    }
    ServiceStatus status{};
    if (scm_.ControlService(service, kServiceControlStop, status)) {
        console_.Print(std::wstring(L"Stopping ") + kServiceName + L".");
        clock_.Sleep(kStopPollMs);
        // The record keeps the last state the manager told us, so a failed
        // first query leaves the state the stop control returned.
        while (scm_.QueryServiceStatus(service, status) &&
               status.currentState == kServiceStopPending) {
            console_.Print(L".");
            clock_.Sleep(kStopPollMs);
        }
        if (status.currentState == kServiceStopped) {
            console_.Print(std::wstring(L"\n") + kServiceName + L" is stopped.\n");
        } else {
            console_.Print(std::wstring(L"\n") + kServiceName + L" failed to stop.\n");
        }
    }
    if (scm_.DeleteService(service)) {
        console_.Print(std::wstring(kServiceName) + L" is removed.\n");
        RemoveEventSource();
    } else {
        PrintFailure(L"DeleteService", scm_.LastError());
    }
    scm_.CloseHandle(manager);
    scm_.CloseHandle(service);
}

}  // namespace vt::service
