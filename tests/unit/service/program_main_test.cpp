// Option parsing and the entry point's paths.
#include "service/program_main.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "service/tw_service_base.h"

namespace vt::service {
namespace {

using fakes::FakePlatform;
using ::testing::ElementsAre;

struct Args {
    explicit Args(std::vector<std::wstring> a) : storage(std::move(a)) {
        storage.insert(storage.begin(), L"VTService.exe");
        for (auto& s : storage) {
            argv.push_back(s.data());
        }
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    std::vector<std::wstring> storage;
    std::vector<wchar_t*> argv;
};

Command Parse(std::vector<std::wstring> a) {
    Args args(std::move(a));
    return ParseCommand(args.argc(), args.argv.data());
}

// A dash or a slash, then a whole word in any case; only the first
// argument counts; anything else after a dash exits; no dash runs the
// service.
TEST(ParseCommand, DashOrSlashThenAWholeWordInAnyCase) {
    using W = std::vector<std::wstring>;
    const std::pair<W, Command> cases[] = {
        {{L"-install"}, Command::Install},   {{L"-Install"}, Command::Install},
        {{L"/INSTALL"}, Command::Install},   {{L"/Remove"}, Command::Remove},
        {{L"-run"}, Command::Run},           {{L"-install", L"-remove", L"junk"}, Command::Install},
        {{L"-installx"}, Command::Exit},     {{L"-"}, Command::Exit},
        {{L"/"}, Command::Exit},             {{L"-help"}, Command::Exit},
        {{L"--install"}, Command::Exit},     {{}, Command::RunService},
        {{L"install"}, Command::RunService}, {{L""}, Command::RunService}};
    for (const auto& [args, command] : cases) {
        EXPECT_EQ(Parse(args), command) << ::testing::PrintToString(args);
    }
}

int RunMain(FakePlatform& fp, std::vector<std::wstring> a) {
    Args args(std::move(a));
    return ProgramMain(args.argc(), args.argv.data(), fp.get());
}

constexpr wchar_t kUsage[] =
    L"Parameters:\n -install  to install the service.\n -remove   to remove the service.\n";

TEST(ProgramMain, UnknownOptionPrintsNothingAndTouchesNothing) {
    FakePlatform fp;
    EXPECT_EQ(RunMain(fp, {L"-help"}), 0);
    EXPECT_EQ(fp.console.text(), L"");
    EXPECT_TRUE(fp.scm.managerAccess.empty());
    EXPECT_TRUE(fp.serviceHost.dispatcherName.empty());
}

TEST(ProgramMain, FromAConsoleTheServicePathShowsUsageAndTheDispatcherError) {
    FakePlatform fp;
    fp.serviceHost.dispatcherError = 1063;
    EXPECT_EQ(RunMain(fp, {L"install"}), 0);
    EXPECT_EQ(fp.console.text(),
              std::wstring(kUsage) + L"Service failed to run w/err 0x00000427\n");
    EXPECT_TRUE(fp.scm.services.empty());
    EXPECT_EQ(TWServiceBase::s_current.load(), nullptr);
}

TEST(ProgramMain, UnderTheManagerTheServiceRunsAndStops) {
    FakePlatform fp;
    fp.serviceHost.controlsAfterStart = {platform::kServiceControlInterrogate,
                                         platform::kServiceControlStop};
    EXPECT_EQ(RunMain(fp, {}), 0);
    EXPECT_EQ(fp.serviceHost.dispatcherName, L"VTService");
    // The entries in full are the service test's; here, that the service
    // object ran: started, then stopped by the manager's control.
    EXPECT_THAT(fp.eventLog.messages(),
                ::testing::IsSupersetOf({L"TWService in OnStart", L"TWservice in OnStop"}));
    EXPECT_EQ(fp.serviceHost.reports().back().currentState, platform::kServiceStopped);
    EXPECT_EQ(TWServiceBase::s_current.load(), nullptr);
}

TEST(ProgramMain, ServiceThatCannotBeBuiltEndsWithAnErrorEntry) {
    FakePlatform fp;
    fp.threads.createEventError = 1816;
    EXPECT_EQ(RunMain(fp, {}), 0);
    EXPECT_TRUE(fp.serviceHost.dispatcherName.empty());
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"Service Create failed w/err 0x00000718"));
}

TEST(ProgramMain, InstallAndRemoveGoThroughTheManager) {
    FakePlatform fp;
    EXPECT_EQ(RunMain(fp, {L"/INSTALL"}), 0);
    EXPECT_EQ(RunMain(fp, {L"-Remove"}), 0);
    EXPECT_EQ(fp.console.text(),
              L"VTService is installed.\nVTService is running.\n"
              L"Stopping VTService.\nVTService is stopped.\n"
              L"VTService is removed.\n");
}

TEST(ProgramMain, WithoutAServiceManagerTheOptionsPointAtTheUnitFile) {
    FakePlatform fp;
    fp.withScm = false;
    for (const wchar_t* option : {L"-install", L"-remove", L"-run"}) {
        EXPECT_EQ(RunMain(fp, {option}), 0);
    }
    const std::wstring text = fp.console.text();
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 3);
    EXPECT_NE(text.find(L"packaging/vtservice.service"), std::wstring::npos);
    EXPECT_TRUE(fp.scm.managerAccess.empty());
}

}  // namespace
}  // namespace vt::service
