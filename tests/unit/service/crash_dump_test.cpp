// Where and under which name a crashed service leaves its dump.
#include "service/crash_dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_platform.h"
#include "platform/crash_hook.h"
#include "service/tw_service.h"

namespace vt::service {
namespace {

using platform::CrashTime;
using platform::FormatCrashFileName;

std::string Name(const CrashTime& t, const char* extension = ".dmp") {
    char out[64];
    const size_t n = FormatCrashFileName(t, extension, out, sizeof out);
    return std::string(out, n);
}

// No separators or leading zeros: 1 November and 11 January at 01:05 share a name.
TEST(CrashDumpName, FieldsWithoutSeparatorsOrLeadingZeros) {
    EXPECT_EQ(Name({2026, 12, 4, 16, 7}), "2026124167.dmp");
    EXPECT_EQ(Name({2027, 1, 1, 0, 0}), "20271100.dmp");
    EXPECT_EQ(Name({2026, 10, 31, 23, 59}, ".txt"), "202610312359.txt");
    EXPECT_EQ(Name({2026, 11, 1, 1, 5}), "202611115.dmp");
    EXPECT_EQ(Name({2026, 1, 11, 1, 5}), "202611115.dmp");
}

TEST(CrashDumpName, ANameThatDoesNotFitIsNotWritten) {
    char out[14] = "untouched";
    EXPECT_EQ(FormatCrashFileName({2026, 12, 4, 16, 7}, ".dmp", out, sizeof out), 0u);
    EXPECT_STREQ(out, "untouched");
    char exact[15];
    EXPECT_EQ(FormatCrashFileName({2026, 12, 4, 16, 7}, ".dmp", exact, sizeof exact), 14u);
    EXPECT_STREQ(exact, "2026124167.dmp");
}

TEST(CrashDumpFolder, ForwardSlashesAndATrailingSlash) {
    EXPECT_EQ(CrashDumpFolder("C:\\ProgramData\\Tarnwick\\Veltrace"),
              "C:/ProgramData/Tarnwick/Veltrace/service_dmp/");
    EXPECT_EQ(CrashDumpFolder("/var/lib/vtservice"), "/var/lib/vtservice/service_dmp/");
}

// The folder is made the service's own when the service is built, not at
// the crash; the hook writes where the prepared folder is held.
TEST(CrashDumpFolder, TheServicePreparesItsFolderAndInstallsItsHookWhenBuilt) {
    fakes::FakePlatform fp;
    fp.folders.dataFolder = "/srv/vt";
    platform::Platform platform = fp.get();
    {
        TWService service(platform);
        EXPECT_THAT(fp.folders.preparedFolders, ::testing::ElementsAre("/srv/vt/service_dmp/"));
        EXPECT_THAT(fp.crashHook.installed, ::testing::ElementsAre("/srv/vt/service_dmp/"));
        EXPECT_THAT(fp.eventLog.messages(), ::testing::IsEmpty());
    }

    // A folder that cannot be made safe: one error entry, and the hook
    // writes no dump (it still ends the process).
    fp.folders.serviceFolder.clear();
    fp.folders.prepareError = 5;
    TWService unsafe(platform);
    EXPECT_THAT(fp.eventLog.messages(),
                ::testing::ElementsAre(L"Prepare service_dmp failed w/err 0x00000005"));
    EXPECT_EQ(fp.eventLog.records()[0].type, platform::EventType::Error);
    EXPECT_EQ(fp.crashHook.installed.back(), "");
}

}  // namespace
}  // namespace vt::service
