// The installer against an in-memory service manager: what it registers,
// what it prints, and that it leaves no handle open.
#include "service/installer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace vt::service {
namespace {

using namespace platform;
using fakes::FakePlatform;
using fakes::FakeScm;
using ::testing::ElementsAre;

class InstallerTest : public ::testing::Test {
  protected:
    ~InstallerTest() override { EXPECT_EQ(fp.scm.openHandles, 0) << "a handle was left open"; }
    FakeScm::Service& Registered() { return fp.scm.services.at(L"VTService"); }
    void AddService(uint32_t state) { fp.scm.services[L"VTService"].state = state; }

    FakePlatform fp;
    Installer installer{fp.scm, fp.console, fp.clock};
};

TEST_F(InstallerTest, FreshInstallRegistersStartsAndConfigures) {
    installer.Install();
    EXPECT_EQ(fp.console.text(), L"VTService is installed.\nVTService is running.\n");
    const auto& s = Registered();
    EXPECT_EQ(s.config.displayName, L"Tarnwick Veltrace Technology Service");
    EXPECT_EQ(s.config.serviceType, 0x10u);
    EXPECT_EQ(s.config.startType, 2u);
    EXPECT_EQ(s.config.errorControl, 1u);
    EXPECT_EQ(s.state, kServiceRunning);
    EXPECT_EQ(s.description, L"Tarnwick Service");
    ASSERT_TRUE(s.failureActions.has_value());
    EXPECT_EQ(s.failureActions->resetPeriodSeconds, 86400u);
    EXPECT_EQ(s.failureActions->restartCount, 3u);
    EXPECT_EQ(s.failureActions->restartDelayMs, 5000u);
    EXPECT_THAT(fp.scm.managerAccess, ElementsAre(0x3u, 0xF003Fu));
    EXPECT_THAT(fp.scm.createAccess, ElementsAre(0x4u));
    EXPECT_THAT(fp.scm.serviceAccess, ElementsAre(0x10000u | 0x10u | 0x4u | 0x2u));
}

// The data folders are made the system's before the start; one a user
// made first is taken over, with a line for each, and a failure is said.
TEST_F(InstallerTest, TheDataFoldersAreTheSystemsBeforeTheStart) {
    fp.scm.userFolders = {L"C:\\ProgramData\\Tarnwick"};
    installer.Install();
    EXPECT_EQ(fp.scm.dataFoldersSecured, 1);
    EXPECT_EQ(fp.console.text(),
              L"VTService is installed.\nC:\\ProgramData\\Tarnwick belonged to a user: taken over "
              L"for the administrators.\nVTService is running.\n");

    const size_t before = fp.console.text().size();
    fp.scm.dataFoldersError = 5;
    installer.Install();
    EXPECT_EQ(fp.console.text().substr(before),
              L"CreateService failed w/err 0x00000431\nData folder preparation failed w/err "
              L"0x00000005\n");
}

// The service path is quoted, the message file path is not: the event log
// loads it as a file name, quotes and all.
TEST_F(InstallerTest, PathWithASpaceIsQuotedForTheServiceOnly) {
    fp.scm.modulePath = L"C:\\Program Files\\Tarnwick\\VTService.exe";
    installer.Install();
    EXPECT_EQ(Registered().config.binaryPath, L"\"C:\\Program Files\\Tarnwick\\VTService.exe\"");
    ASSERT_EQ(fp.scm.eventSources.count(L"VTService"), 1u);
    EXPECT_EQ(fp.scm.eventSources[L"VTService"].messageFile,
              L"C:\\Program Files\\Tarnwick\\VTService.exe");
    EXPECT_EQ(fp.scm.eventSources[L"VTService"].typesSupported, 7u);
}

// An install over an earlier one points the source at the new copy; a
// source that cannot be written is said and the service still starts.
TEST_F(InstallerTest, EventSourceFollowsTheInstalledCopy) {
    AddService(kServiceStopped);
    fp.scm.eventSources[L"VTService"] = {L"D:\\old\\VTService.exe", 7};
    installer.Install();
    EXPECT_EQ(fp.scm.eventSources[L"VTService"].messageFile,
              L"C:\\Program Files\\Tarnwick\\VTService.exe");
    // The existing registration is configured all the same (the start is
    // the "is running" line below).
    EXPECT_EQ(Registered().descriptionWrites, 1);

    fp.scm.registryError = 5;
    installer.Install();
    EXPECT_EQ(fp.console.text(),
              L"CreateService failed w/err 0x00000431\nVTService is running.\n"
              L"CreateService failed w/err 0x00000431\n"
              L"Event source registration failed w/err 0x00000005\n");
}

TEST_F(InstallerTest, AccessDeniedPrintsTheOpenFailureTwice) {
    fp.scm.openManagerError = 5;
    installer.Install();
    EXPECT_EQ(fp.console.text(),
              L"OpenSCManager failed w/err 0x00000005\nOpenSCManager failed w/err 0x00000005\n");
    EXPECT_TRUE(fp.scm.services.empty());
    EXPECT_TRUE(fp.scm.eventSources.empty());
}

TEST_F(InstallerTest, NoModulePathStillTriesTheStart) {
    fp.scm.modulePathError = 122;
    AddService(kServiceStopped);
    installer.Install();
    EXPECT_EQ(fp.console.text(),
              L"GetModuleFileName failed w/err 0x0000007a\nVTService is running.\n");
    EXPECT_TRUE(fp.scm.createAccess.empty());
}

TEST_F(InstallerTest, RunSaysAMissingRegistrationAndLeavesARunningServiceAlone) {
    installer.StartAndConfigure();
    EXPECT_EQ(fp.console.text(), L"OpenService failed w/err 0x00000424\n");
    AddService(kServiceRunning);
    installer.StartAndConfigure();
    EXPECT_EQ(fp.console.text(), L"OpenService failed w/err 0x00000424\n");  // nothing more
    EXPECT_EQ(Registered().descriptionWrites, 0);
    EXPECT_FALSE(Registered().failureActions.has_value());
}

// The stop is followed once a second, a dot each time, while the manager
// says it is pending; whatever it came to, the service and its event
// source are deleted.
TEST(InstallerRemove, FollowsTheStopADotASecondThenDeletes) {
    struct Case {
        uint32_t state;
        int pendingQueries;
        std::optional<int> queryFailsAfter;
        bool stopLeavesStopped;
        const wchar_t* text;
        size_t sleeps;
    };
    const Case cases[] = {
        {kServiceRunning, 3, {}, false, L"Stopping VTService....\nVTService is stopped.\n", 4},
        {kServiceStopped, 0, {}, false, L"", 0},
        // One pending answer, then the queries fail.
        {kServiceRunning, 1, 1, false, L"Stopping VTService..\nVTService failed to stop.\n", 2},
        // No query works: the stop control's own answer counts.
        {kServiceRunning, 0, 0, true, L"Stopping VTService.\nVTService is stopped.\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FakePlatform fp;
        fp.scm.services[L"VTService"].state = c.state;
        fp.scm.eventSources[L"VTService"] = {L"C:\\VTService.exe", 7};
        fp.scm.stopPendingQueries = c.pendingQueries;
        fp.scm.queryFailsAfter = c.queryFailsAfter;
        fp.scm.stopLeavesStopped = c.stopLeavesStopped;
        Installer(fp.scm, fp.console, fp.clock).Remove();
        EXPECT_EQ(fp.console.text(), std::wstring(c.text) + L"VTService is removed.\n");
        EXPECT_EQ(fp.clock.sleeps(), std::vector<uint32_t>(c.sleeps, 1000u));
        EXPECT_TRUE(fp.scm.services.empty());
        EXPECT_TRUE(fp.scm.eventSources.empty());
        EXPECT_THAT(fp.scm.managerAccess, ElementsAre(0x1u));
        EXPECT_THAT(fp.scm.serviceAccess, ElementsAre(0x10000u | 0x20u | 0x4u));
        EXPECT_EQ(fp.scm.openHandles, 0);
    }
}

TEST_F(InstallerTest, RemoveReportsFailures) {
    fp.scm.eventSources[L"VTService"] = {L"C:\\VTService.exe", 7};
    installer.Remove();
    EXPECT_EQ(fp.console.text(), L"OpenService failed w/err 0x00000424\n");
    EXPECT_TRUE(fp.scm.eventSources.empty()) << "no service, no source";

    AddService(kServiceStopped);
    fp.scm.eventSources[L"VTService"] = {L"C:\\VTService.exe", 7};
    fp.scm.deleteError = 0x430;
    installer.Remove();
    EXPECT_EQ(fp.console.text(),
              L"OpenService failed w/err 0x00000424\n"
              L"DeleteService failed w/err 0x00000430\n");
    EXPECT_EQ(fp.scm.eventSources.count(L"VTService"), 1u) << "kept while the service stays";

    fp.scm.openManagerError = 5;
    installer.Remove();
    EXPECT_EQ(fp.console.text(),
              L"OpenService failed w/err 0x00000424\n"
              L"DeleteService failed w/err 0x00000430\n"
              L"OpenSCManager failed w/err 0x00000005\n");
}

}  // namespace
}  // namespace vt::service
