#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

TEST(EventLogPosix, RedirectedRecordsAreOneEscapedLineEach) {
    const std::string path =
        ::testing::TempDir() + "/eventlog_" + std::to_string(getpid()) + ".tsv";
    std::remove(path.c_str());
    setenv("VTSERVICE_EVENTLOG_FILE", path.c_str(), 1);
    PosixEventLog log;
    log.Write(
        {L"VTService", EventType::Information, 0, 0, {L"VTService", L"TWService in OnStart"}});
    log.Write({L"VTService", EventType::Error, 0, 0, {L"VTService", L"two\nlines\tand \\ tab"}});
    unsetenv("VTSERVICE_EVENTLOG_FILE");

    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_EQ(all.str(),
              "4\t0\t0\tVTService\tVTService\tTWService in OnStart\n"
              "1\t0\t0\tVTService\tVTService\ttwo\\nlines\\tand \\\\ tab\n");
    std::remove(path.c_str());
}

}  // namespace
}  // namespace vt::platform::posix
