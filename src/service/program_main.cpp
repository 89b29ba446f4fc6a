#include "service/program_main.h"

#include <memory>
#include <string_view>

#include "common/text.h"
#include "service/installer.h"
#include "service/tw_service.h"

namespace vt::service {

namespace {

void RunAsService(int argc, wchar_t** argv, const platform::Platform& platform) {
    (void)argc;
    (void)argv;
    platform.console.Print(L"Parameters:\n");
    platform.console.Print(L" -install  to install the service.\n");
    platform.console.Print(L" -remove   to remove the service.\n");

    std::unique_ptr<TWService> service;
    try {
        service = std::make_unique<TWService>(platform);
    } catch (const SystemError& e) {
        // Without its stop event the service could never be stopped; say so
        // where an administrator looks, and end cleanly.
        WriteServiceEvent(platform.eventLog, platform::EventType::Error,
                          FailedWithError(L"Service Create", e.code()));
        platform.console.Print(FailedWithError(L"Service Create", e.code()) + L"\n");
        return;
    }
    TWServiceBase::s_current = service.get();
    if (!platform.serviceHost.RunDispatcher(kServiceName, &TWServiceBase::ServiceMain)) {
        platform.console.Print(L"Service failed to run w/err 0x" +
                               Hex8(platform.serviceHost.LastError()) + L"\n");
    }
    TWServiceBase::s_current = nullptr;
}

}  // namespace

Command ParseCommand(int argc, wchar_t** argv) {
    if (argc < 2 || argv[1] == nullptr) {
        return Command::RunService;
    }
    const std::wstring_view arg(argv[1]);
    if (arg.empty() || (arg[0] != L'-' && arg[0] != L'/')) {
        return Command::RunService;
    }
    const std::wstring_view word = arg.substr(1);
    if (EqualsIgnoreCase(word, L"install")) {
        return Command::Install;
    }
    if (EqualsIgnoreCase(word, L"remove")) {
        return Command::Remove;
    }
    if (EqualsIgnoreCase(word, L"run")) {
        return Command::Run;
    }
    return Command::Exit;
}

int ProgramMain(int argc, wchar_t** argv, const platform::Platform& platform) {
    const Command command = ParseCommand(argc, argv);
    if (command == Command::Exit) {
        return 0;
    }
    if (command == Command::RunService) {
        RunAsService(argc, argv, platform);
        return 0;
    }
    if (platform.scm == nullptr) {
        platform.console.Print(
            L"VTService is installed, started and removed by systemd here: "
            L"see packaging/vtservice.service.\n");
        return 0;
    }
    Installer installer(*platform.scm, platform.console, platform.clock);
    switch (command) {
        case Command::Install:
            installer.Install();
            break;
        case Command::Remove:
            installer.Remove();
            break;
        case Command::Run:
            installer.StartAndConfigure();
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace vt::service
