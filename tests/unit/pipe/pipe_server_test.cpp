// The server loop over a scripted pipe: creation, framing, one client after
// another, and its failures.
#include "pipe/pipe_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace vt::pipe {
namespace {

using fakes::FakePlatform;
using platform::EventType;
using ::testing::ElementsAre;

class PipeServerTest : public ::testing::Test {
  protected:
    PipeServerTest() { layer.Load(fp.libraries); }
    std::vector<std::wstring> Events() { return fp.eventLog.messages(); }
    std::vector<std::string> Writes(size_t client) { return fp.pipes.served.at(client).writes; }

    FakePlatform fp;
    devices::DeviceLayer layer{fp.eventLog, fp.console, fp.clock};
    std::atomic<int32_t> enabled{0}, disabled{0};
    std::atomic<uint64_t> heartbeat{0};
    PipeCommands commands{{enabled, disabled, heartbeat}, layer, fp.clock, fp.eventLog, nullptr};
    PipeServer server{fp.pipes, fp.eventLog, fp.clock, commands};
};

TEST_F(PipeServerTest, CreatesOneLocalFirstInstanceWithItsSecurity) {
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(fp.pipes.specs.size(), 1u);
    const platform::PipeSpec& s = fp.pipes.specs[0];
    EXPECT_EQ(s.name, "\\\\.\\pipe\\twvtservicepipe");
    EXPECT_EQ(s.openMode, 0x80003u);  // duplex and first instance
    EXPECT_EQ(s.pipeMode, 0x8u);      // byte mode, waiting, no remote clients
    EXPECT_EQ(s.maxInstances, 1u);
    EXPECT_EQ(s.outBufferSize, 128u);
    EXPECT_EQ(s.inBufferSize, 128u);
    EXPECT_EQ(s.defaultTimeout, 0u);
    EXPECT_EQ(s.securityDescriptor, L"D:(A;OICI;GRGW;;;AU)(A;OICI;GA;;;BA)");
    EXPECT_THAT(Events(),
                ElementsAre(L"TWservice PipeWorkerThread", L"TWservice PipeWorkerThread OK",
                            L"VTService is Readly,Will While(1)"));
}

TEST_F(PipeServerTest, APipeThatCannotBeCreatedEndsTheServerWithAnError) {
    fp.pipes.createError = 231;  // someone else holds the name
    std::atomic<bool> stopping{false};
    server.Run(stopping);  // returns at once
    EXPECT_THAT(Events(),
                ElementsAre(L"TWservice PipeWorkerThread", L"TWservice PipeWorkerThread OK",
                            L"TWservice PipeWorkerThread Invalid handle"));
    EXPECT_EQ(fp.eventLog.records().back().type, EventType::Error);
}

TEST_F(PipeServerTest, RequestsAreCutAt127BytesAndEachGetsOneReply) {
    const std::string exact = "enable" + std::string(121, 'x');
    const std::string longer = std::string(127, 'x') + "status" + std::string(67, 'y');
    fp.pipes.AddClient({exact, longer});
    ASSERT_TRUE(server.Start());
    server.ServeOneConnection();
    // 127 bytes whole; 200 bytes as 127 + 73, the second read starting "status".
    EXPECT_THAT(Writes(0), ElementsAre("TW_OK", "TW_FAIL", "on"));
    EXPECT_EQ(fp.pipes.served[0].readCalls, 4);  // the fourth read finds the client gone
    EXPECT_TRUE(fp.pipes.served[0].disconnected);
}

TEST_F(PipeServerTest, EachRequestIsReadIntoAZeroedBuffer) {
    fp.pipes.AddClient({"enable_and_more", "e", std::string("\0hello", 6), "version"});
    ASSERT_TRUE(server.Start());
    server.ServeOneConnection();
    EXPECT_THAT(Writes(0), ElementsAre("TW_OK", "TW_FAIL", "TW_FAIL", "0.400000"));
}

TEST_F(PipeServerTest, AClientThatLeavesBeforeItsReplyIsOneErrorAndTheNextIsServed) {
    fp.pipes.AddClient({"hello"});
    fp.pipes.served.clear();
    fp.pipes.pending.front().writesFail = true;
    fp.pipes.AddClient({"status"});
    ASSERT_TRUE(server.Start());
    fp.eventLog.clear();
    server.ServeOneConnection();
    server.ServeOneConnection();
    EXPECT_THAT(Events(), ElementsAre(L"TWservice PipeWorkerThread hello",
                                      L"TWservice PipeWorkerThread error send ??",
                                      L"TWservice PipeWorkerThread get status"));
    EXPECT_EQ(fp.eventLog.records()[1].type, EventType::Error);
    EXPECT_THAT(Writes(1), ElementsAre("off"));
}

TEST_F(PipeServerTest, AFailedWaitIsLoggedThenTheReadDecides) {
    fp.pipes.AddClient({"hello"});
    fp.pipes.pending.front().connectError = 6;
    ASSERT_TRUE(server.Start());
    fp.eventLog.clear();
    server.ServeOneConnection();
    EXPECT_EQ(Events().front(), L"TWservice PipeWorkerThread Connect Pipe fail");
    EXPECT_EQ(fp.eventLog.records().front().type, EventType::Error);
    // No busy loop: the next wait comes a second later.
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre(PipeServer::kConnectRetryMs));
}

TEST_F(PipeServerTest, StateLivesAcrossClients) {
    fp.pipes.AddClient({"fake_temp", "fake_step"});
    fp.pipes.AddClient({"temp"});
    ASSERT_TRUE(server.Start());
    server.ServeOneConnection();
    server.ServeOneConnection();
    EXPECT_THAT(Writes(1), ElementsAre("20;20"));
}

TEST_F(PipeServerTest, ARaisedStopEndsTheServerAfterItsClient) {
    fp.pipes.AddClient({"hello"});
    std::atomic<bool> stopping{true};
    server.Run(stopping);
    EXPECT_EQ(fp.pipes.served.size(), 0u);  // never waited: the stop came first
}

}  // namespace
}  // namespace vt::pipe
