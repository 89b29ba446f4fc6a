// What the pipe server does on either system, written once: clients served
// from one thread, requests cut at the request size, a full server, replies
// a client does not read, and the stop event. Each system's test gives a
// Side: its Pipes and Threads, a PipeSpec, and a client's connect, send,
// receive and close; what one system alone has stays in its own file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/threads.h"

namespace vt::platform {

// Sets the stop after a generous while, so a wait that never ends fails the
// test instead of hanging it. No timing is checked with it.
class Watchdog {
  public:
    explicit Watchdog(Event& stop)
        : thread_([this, &stop] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
                  ADD_FAILURE() << "a wait on the pipe never ended";
                  stop.Set();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// A Side's types: its Pipes and Threads, its client's handle, and how many
// replies of what size overfill a client's pipe while it does not read.
template <class PipesT, class ThreadsT, class ClientT, size_t replies, size_t replySize>
struct PipeSide {
    using Pipes = PipesT;
    using Threads = ThreadsT;
    using Client = ClientT;
    static constexpr size_t kReplies = replies;
    static constexpr size_t kReplySize = replySize;
};

template <class Side>
class PipeContract : public ::testing::Test {
  protected:
    using Kind = PipeActivity::Kind;
    void SetUp() override {
        uint32_t error = 0;
        server = pipes.CreateServer(side.spec, *stop, error);
        ASSERT_NE(server, nullptr) << "error " << error;
    }
    PipeActivity Next() {
        request.assign(128, '\0');
        return server->Wait(request.data());
    }
    std::string Request(const PipeActivity& a) const { return request.substr(0, a.size); }

    Side side;  // first made, last gone: its clients outlive the server
    typename Side::Pipes pipes;
    typename Side::Threads threads;
    std::unique_ptr<Event> stop = threads.CreateManualResetEvent();
    Watchdog watchdog{*stop};
    std::unique_ptr<PipeEndpoint> server;
    std::string request;
};

TYPED_TEST_SUITE_P(PipeContract);

TYPED_TEST_P(PipeContract, ServesOneClientWhileAnotherIsSilentAndSeesItLeave) {
    using Kind = PipeActivity::Kind;
    auto& side = this->side;
    side.Connect();  // and never sends
    PipeActivity a = this->Next();
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t silentId = a.client;
    const auto talker = side.Connect();
    a = this->Next();
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t talkerId = a.client;
    EXPECT_NE(talkerId, silentId);

    side.Send(talker, "hello");
    a = this->Next();
    ASSERT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, talkerId);
    EXPECT_EQ(this->Request(a), "hello");
    ASSERT_TRUE(this->server->Write(talkerId, "TW_OK", 5));
    EXPECT_EQ(side.Receive(talker, 5), "TW_OK");

    // 200 bytes are read as 127, then 73. More than a pipe may hold: the
    // client's write may wait for the reads.
    std::thread writer([&] { side.Send(talker, std::string(200, 'x')); });
    EXPECT_EQ(this->Next().size, 127u);
    EXPECT_EQ(this->Next().size, 73u);
    writer.join();

    side.Close(talker);
    a = this->Next();
    EXPECT_EQ(a.kind, Kind::Left);
    EXPECT_EQ(a.client, talkerId);
    this->server->Disconnect(talkerId);
}

// Every place taken: a further client is not served (it waits or is turned
// away, as the system does it) until the server frees a place, which the
// next client then takes.
TYPED_TEST_P(PipeContract, AFreedPlaceGoesToTheNextClient) {
    using Kind = PipeActivity::Kind;
    auto& side = this->side;
    std::vector<typename TypeParam::Client> clients;
    for (uint32_t i = 0; i < side.spec.maxInstances; ++i) {
        clients.push_back(side.Connect());
        ASSERT_EQ(this->Next().kind, Kind::Connected);
    }
    auto next = side.ConnectOverTheLimit();
    side.Send(clients[1], "x");
    PipeActivity a = this->Next();
    ASSERT_EQ(a.kind, Kind::Request);  // the further client was not taken meanwhile
    this->server->Disconnect(0);
    EXPECT_EQ(side.Receive(clients[0], 1), "");  // closed by the server
    if (!next) {
        next = side.Connect();
    }
    a = this->Next();
    EXPECT_EQ(a.kind, Kind::Connected);
    EXPECT_EQ(a.client, 0u);
}

// Replies a client does not read fill its pipe; they are kept, never block
// the server, go out in order once the client reads, and only then is its
// next request taken.
TYPED_TEST_P(PipeContract, RepliesAClientDoesNotReadAreKeptAndBlockNobody) {
    using Kind = PipeActivity::Kind;
    auto& side = this->side;
    const auto slow = side.Connect();
    const uint32_t slowId = this->Next().client;
    const std::string reply(TypeParam::kReplySize, 'r');
    std::string expected;
    for (size_t i = 0; i < TypeParam::kReplies; ++i) {
        ASSERT_TRUE(this->server->Write(slowId, reply.data(), static_cast<uint32_t>(reply.size())));
        expected += reply;
    }

    const auto other = side.Connect();
    ASSERT_EQ(this->Next().kind, Kind::Connected);
    side.Send(other, "hello");
    PipeActivity a = this->Next();
    ASSERT_EQ(a.kind, Kind::Request);
    ASSERT_TRUE(this->server->Write(a.client, "TW_OK", 5));
    EXPECT_EQ(side.Receive(other, 5), "TW_OK");

    std::string got;
    std::thread reader([&] {
        got = side.Receive(slow, expected.size());
        side.Send(slow, "done");
    });
    a = this->Next();  // sends the rest while the reader takes it
    reader.join();
    ASSERT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, slowId);
    EXPECT_EQ(this->Request(a), "done");
    EXPECT_TRUE(got == expected) << got.size() << " bytes";
}

TYPED_TEST_P(PipeContract, TheStopEventEndsAWaitWithNoClient) {
    std::thread stopper([this] { this->stop->Set(); });
    EXPECT_EQ(this->Next().kind, PipeActivity::Kind::Stopped);
    stopper.join();
}

REGISTER_TYPED_TEST_SUITE_P(PipeContract, ServesOneClientWhileAnotherIsSilentAndSeesItLeave,
                            AFreedPlaceGoesToTheNextClient,
                            RepliesAClientDoesNotReadAreKeptAndBlockNobody,
                            TheStopEventEndsAWaitWithNoClient);

}  // namespace vt::platform
