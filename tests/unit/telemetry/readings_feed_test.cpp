// Which thread waits for the readings: the pipe's request answers from the
// latest readings, waits a bounded time for fresh ones, and never calls the
// monitor itself; the telemetry thread sleeps until asked.
#include "telemetry/readings_feed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace vt::telemetry {
namespace {

using fakes::FakePlatform;
using fakes::Sensors;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ReadingsFeedTest : public ::testing::Test {
  protected:
    ReadingsFeedTest() { fakes::InstallSensorLibraries(fp.libraries, true); }
    void CpuReads(int32_t value) {
        Sensors().cpu.count = 1;
        Sensors().cpu.values = {value};
    }

    FakePlatform fp;
    SensorMonitor monitor{fp.libraries, fp.folders, fp.console, fp.eventLog};
    ReadingsFeed feed{fp.threads, fp.clock};
    std::unique_ptr<platform::Event> stop = fp.threads.CreateManualResetEvent();
};

TEST_F(ReadingsFeedTest, ReadingsUpToASecondOldAreAnsweredOlderOnesWaitAtMost250ms) {
    CpuReads(45);
    feed.Start(monitor);
    CpuReads(50);
    fp.clock.Set(ReadingsFeed::kFreshMs);
    EXPECT_EQ(feed.Latest().cpuValues[0], 45u);
    EXPECT_THAT(fp.threads.waits(), IsEmpty());
    EXPECT_EQ(Sensors().temperatureCalls, 2);  // the start's readings only

    // Older: the request is left for the telemetry thread, which does not
    // answer in time; the last readings are answered after 250 ms.
    fp.clock.Advance(1);
    EXPECT_EQ(feed.Latest().cpuValues[0], 45u);
    EXPECT_THAT(fp.threads.waits(), ElementsAre(ReadingsFeed::kFreshWaitMs));
    EXPECT_EQ(Sensors().temperatureCalls, 2);

    EXPECT_TRUE(feed.ServePass(monitor, *stop));
    EXPECT_EQ(feed.Latest().cpuValues[0], 50u);

    // That pass said "taken" after the wait had given up: the next request
    // does not take it for an answer to itself.
    fp.clock.Advance(ReadingsFeed::kFreshMs + 1);
    feed.Latest();
    EXPECT_THAT(fp.threads.waits(), ElementsAre(250u, 250u));
}

TEST_F(ReadingsFeedTest, BeforeTheFirstReadingsZerosAfterTheWaitWithoutTheLibraryAtOnce) {
    CpuReads(45);
    EXPECT_FALSE(feed.Latest().available);  // the start has not ended
    EXPECT_THAT(fp.threads.waits(), ElementsAre(250u));

    Sensors().startSucceeds = false;
    feed.Start(monitor);
    EXPECT_FALSE(feed.Latest().available);
    EXPECT_THAT(fp.threads.waits(), ElementsAre(250u));
    // The earlier request is served without calling the library.
    EXPECT_TRUE(feed.ServePass(monitor, *stop));
    EXPECT_EQ(Sensors().temperatureCalls, 0);
}

TEST_F(ReadingsFeedTest, TheStopEndsTheThreadAndWinsOverARequest) {
    feed.Latest();  // leaves a request
    stop->Set();
    feed.Run(monitor, *stop);
    EXPECT_EQ(Sensors().temperatureCalls, 2);  // the start's readings only
    EXPECT_THAT(fp.threads.waits(), ElementsAre(250u));  // no wait but the request's
}

}  // namespace
}  // namespace vt::telemetry
