// The server over a scripted pipe: creation and its retries, framing,
// several clients, eviction of the idlest, stop, and its failures.
#include "pipe/pipe_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_service.h"

namespace vt::pipe {
namespace {

using platform::EventType;
using ::testing::ElementsAre;

class PipeServerTest : public fakes::PipeCommandsFixture {
  protected:
    std::vector<std::string> Writes(uint32_t client) { return fp.pipes.clients[client].writes; }
    int Disconnects(uint32_t client) { return fp.pipes.clients[client].disconnects; }
    void ServeAll() {
        while (server.ServeNext()) {
        }
    }

    PipeServer server{fp.pipes, fp.eventLog, commands};
};

TEST_F(PipeServerTest, CreatesEveryInstanceAtOnceLocalAndFirstWithItsSecurity) {
    ASSERT_TRUE(server.Start(*stop));
    ASSERT_EQ(fp.pipes.specs.size(), 1u);
    const platform::PipeSpec& s = fp.pipes.specs[0];
    EXPECT_EQ(s.name, "\\\\.\\pipe\\twvtservicepipe");
    EXPECT_EQ(s.openMode, 0x80003u);  // duplex and first instance
    EXPECT_EQ(s.pipeMode, 0x8u);      // byte mode, waiting, no remote clients
    EXPECT_EQ(s.maxInstances, 9u);    // eight clients and one to admit a newcomer
    EXPECT_EQ(s.outBufferSize, 128u);
    EXPECT_EQ(s.inBufferSize, 128u);
    EXPECT_EQ(s.defaultTimeout, 0u);
    EXPECT_EQ(s.requestSize, 127u);
    EXPECT_EQ(s.securityDescriptor, L"D:(A;OICI;0x12019b;;;AU)(A;OICI;GA;;;BA)");
    EXPECT_THAT(Events(),
                ElementsAre(L"TWservice PipeWorkerThread", L"TWservice PipeWorkerThread OK",
                            L"VTService is Readly,Will While(1)"));
}

TEST_F(PipeServerTest, ANameHeldElsewhereIsRetriedWithOneEntryPerKindOfFailure) {
    fp.pipes.createErrors = {231, 231, 5, 231, 5};
    ASSERT_TRUE(server.Start(*stop));
    EXPECT_EQ(fp.pipes.specs.size(), 6u);
    EXPECT_EQ(fp.clock.TickCount64(), 5u * PipeServer::kCreateRetryMs);  // one pause per failure
    EXPECT_THAT(Events(),
                ElementsAre(L"TWservice PipeWorkerThread", L"TWservice PipeWorkerThread OK",
                            L"TWservice PipeWorkerThread Invalid handle",
                            L"TWservice PipeWorkerThread Invalid handle",
                            L"VTService is Readly,Will While(1)"));
    EXPECT_EQ(fp.eventLog.records()[2].type, EventType::Error);
    EXPECT_EQ(fp.eventLog.records()[3].type, EventType::Error);
}

TEST_F(PipeServerTest, AStopEndsTheRetries) {
    fp.pipes.createErrors = {231, 231};
    stop->Set();
    server.Run(*stop);  // returns at once
    EXPECT_EQ(fp.pipes.specs.size(), 1u);
    EXPECT_EQ(Events().back(), L"TWservice PipeWorkerThread Invalid handle");
}

TEST_F(PipeServerTest, RequestsAreCutAt127BytesAndEachGetsOneReply) {
    const std::string exact = "enable" + std::string(121, 'x');
    const std::string longer = std::string(127, 'x') + "status" + std::string(67, 'y');
    fp.pipes.Visit(0, {exact, longer});
    ASSERT_TRUE(server.Start(*stop));
    ServeAll();
    // 127 bytes whole; 200 bytes as 127 + 73, the second read starting "status".
    EXPECT_THAT(Writes(0), ElementsAre("TW_OK", "TW_FAIL", "on"));
    EXPECT_EQ(Disconnects(0), 1);  // once it left
}

TEST_F(PipeServerTest, EachRequestIsReadIntoAZeroedBuffer) {
    fp.pipes.Visit(0, {"enable_and_more", "e", std::string("\0hello", 6), "version"});
    ASSERT_TRUE(server.Start(*stop));
    ServeAll();
    EXPECT_THAT(Writes(0), ElementsAre("TW_OK", "TW_FAIL", "TW_FAIL", "0.400000"));
}

TEST_F(PipeServerTest, AClientThatLeavesBeforeItsReplyIsOneErrorAndTheOthersAreServed) {
    fp.pipes.clients[0].writesFail = true;
    fp.pipes.Connect(0);
    fp.pipes.Connect(1);
    fp.pipes.Send(0, "hello");
    fp.pipes.Send(1, "status");
    fp.pipes.Send(1, "version");
    ASSERT_TRUE(server.Start(*stop));
    fp.eventLog.clear();
    ServeAll();
    EXPECT_THAT(Events(), ElementsAre(L"TWservice PipeWorkerThread hello",
                                      L"TWservice PipeWorkerThread error send ??",
                                      L"TWservice PipeWorkerThread get status",
                                      L"TWservice PipeWorkerThread get version"));
    EXPECT_EQ(fp.eventLog.records()[1].type, EventType::Error);
    EXPECT_THAT(Writes(1), ElementsAre("off", "0.400000"));
}

TEST_F(PipeServerTest, AFailedWaitForClientsIsAnErrorEntryAndServingGoesOn) {
    fp.pipes.FailConnect(6);
    fp.pipes.Visit(0, {"hello"});
    ASSERT_TRUE(server.Start(*stop));
    fp.eventLog.clear();
    ServeAll();
    EXPECT_EQ(Events().front(), L"TWservice PipeWorkerThread Connect Pipe fail");
    EXPECT_EQ(fp.eventLog.records().front().type, EventType::Error);
    EXPECT_THAT(Writes(0), ElementsAre("TW_OK"));
}

// Eight clients are kept; a ninth pushes out the one that did nothing for
// the longest, counting requests, not only the connection's age.
TEST_F(PipeServerTest, ANewcomerPushesOutTheClientIdleTheLongest) {
    for (uint32_t c = 0; c < 8; ++c) {
        fp.pipes.Connect(c);
    }
    fp.pipes.Send(0, "hello");  // the oldest connection is busy, not idle
    fp.pipes.Connect(8);
    ASSERT_TRUE(server.Start(*stop));
    ServeAll();
    for (uint32_t c = 0; c < 9; ++c) {
        EXPECT_EQ(Disconnects(c), c == 1 ? 1 : 0) << "client " << c;
    }

    // A client that left frees its place: the next one pushes nobody out.
    fp.pipes.Leave(3);
    fp.pipes.Connect(3);
    fp.pipes.Send(8, "hello");
    // Full again: the idlest is now the third connection.
    fp.pipes.Connect(1);
    ServeAll();
    EXPECT_THAT(Writes(8), ElementsAre("TW_OK"));
    for (uint32_t c = 0; c < 9; ++c) {
        EXPECT_EQ(Disconnects(c), c == 1 || c == 2 || c == 3 ? 1 : 0) << "client " << c;
    }
}

}  // namespace
}  // namespace vt::pipe
