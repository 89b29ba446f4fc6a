// The Linux pipe: a Unix socket in the run folder, one server per name,
// several clients served from one thread, woken by the stop event.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

using Kind = PipeActivity::Kind;

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

class PipePosix : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vtpipeXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        runDir_ = dir_ + "/run/nested";  // made on demand
        setenv("VTSERVICE_RUN_DIR", runDir_.c_str(), 1);
        spec_.name = "\\\\.\\pipe\\twvtservicepipe";
        spec_.maxInstances = 3;
        spec_.requestSize = 127;
    }
    void TearDown() override {
        unsetenv("VTSERVICE_RUN_DIR");
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string SocketPath() const { return runDir_ + "/twvtservicepipe"; }
    int Client() {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, SocketPath().c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        return fd;
    }
    std::unique_ptr<PipeEndpoint> Create() {
        uint32_t error = 0;
        auto server = pipes_.CreateServer(spec_, *stop_, error);
        EXPECT_NE(server, nullptr) << "error " << error;
        return server;
    }
    PipeActivity Next(PipeEndpoint& server) {
        request_.assign(128, '\0');
        return server.Wait(request_.data());
    }
    std::string Request(const PipeActivity& a) const { return request_.substr(0, a.size); }
    static std::string Receive(int fd) {
        char reply[64] = {};
        const ssize_t n = recv(fd, reply, sizeof reply, 0);
        return n > 0 ? std::string(reply, static_cast<size_t>(n)) : std::string();
    }

    std::string dir_, runDir_;
    PipeSpec spec_;
    PosixPipes pipes_;
    PosixThreads threads_;
    std::unique_ptr<Event> stop_ = threads_.CreateManualResetEvent();
    Watchdog watchdog_{*stop_};
    std::string request_;
};

TEST_F(PipePosix, ServesSeveralClientsOnTheNamedSocketWhileOneIsSilent) {
    auto server = Create();
    ASSERT_NE(server, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);  // every local user may talk to the service

    const int silent = Client();
    PipeActivity a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t silentId = a.client;
    const int talker = Client();
    a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t talkerId = a.client;
    EXPECT_NE(talkerId, silentId);

    ASSERT_EQ(write(talker, "hello", 5), 5);
    a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, talkerId);
    EXPECT_EQ(Request(a), "hello");
    ASSERT_TRUE(server->Write(talkerId, "TW_OK", 5));
    EXPECT_EQ(Receive(talker), "TW_OK");

    // 200 bytes are read as 127, then 73.
    ASSERT_EQ(write(talker, std::string(200, 'x').data(), 200), 200);
    a = Next(*server);
    EXPECT_EQ(a.size, 127u);
    a = Next(*server);
    EXPECT_EQ(a.size, 73u);

    close(talker);
    a = Next(*server);
    EXPECT_EQ(a.kind, Kind::Left);
    EXPECT_EQ(a.client, talkerId);
    server->Disconnect(talkerId);
    close(silent);
}

TEST_F(PipePosix, AClientWaitsForAFreePlaceAndTakesItOnceOneIsGiven) {
    auto server = Create();
    ASSERT_NE(server, nullptr);
    int clients[4];
    for (int i = 0; i < 3; ++i) {
        clients[i] = Client();
        EXPECT_EQ(Next(*server).kind, Kind::Connected);
    }
    clients[3] = Client();  // waits in the queue: every place is taken
    ASSERT_EQ(write(clients[1], "x", 1), 1);
    PipeActivity a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Request);  // the fourth was not taken meanwhile
    server->Disconnect(0);
    a = Next(*server);
    EXPECT_EQ(a.kind, Kind::Connected);
    EXPECT_EQ(a.client, 0u);
    EXPECT_EQ(recv(clients[0], request_.data(), 1, 0), 0);  // the first was closed
    for (int fd : clients) {
        close(fd);
    }
}

// Replies a client does not read fill its socket; they are kept, never
// block the server, go out in order once the client reads, and only then is
// its next request taken.
TEST_F(PipePosix, RepliesAClientDoesNotReadAreKeptAndBlockNobody) {
    auto server = Create();
    ASSERT_NE(server, nullptr);
    const int slow = Client();
    const uint32_t slowId = Next(*server).client;
    constexpr size_t kReplies = 5000;  // far more than a socket holds
    for (size_t i = 0; i < kReplies; ++i) {
        ASSERT_TRUE(server->Write(slowId, "TW_FAIL", 7));
    }

    const int other = Client();
    ASSERT_EQ(Next(*server).kind, Kind::Connected);
    ASSERT_EQ(write(other, "hello", 5), 5);
    PipeActivity a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Request);
    ASSERT_TRUE(server->Write(a.client, "TW_OK", 5));
    EXPECT_EQ(Receive(other), "TW_OK");

    std::string got;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n = 0;
        while (got.size() < 7 * kReplies && (n = recv(slow, buffer, sizeof buffer, 0)) > 0) {
            got.append(buffer, static_cast<size_t>(n));
        }
        send(slow, "done", 4, MSG_NOSIGNAL);
    });
    a = Next(*server);  // flushes the rest while the reader takes it
    reader.join();
    ASSERT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, slowId);
    EXPECT_EQ(Request(a), "done");
    std::string expected;
    for (size_t i = 0; i < kReplies; ++i) {
        expected += "TW_FAIL";
    }
    EXPECT_TRUE(got == expected) << got.size() << " bytes";
    close(slow);
    close(other);
}

TEST_F(PipePosix, TheStopEventEndsAWaitWithNoClient) {
    auto server = Create();
    ASSERT_NE(server, nullptr);
    std::thread stopper([this] { stop_->Set(); });
    EXPECT_EQ(Next(*server).kind, Kind::Stopped);
    stopper.join();
}

TEST_F(PipePosix, WritingToAClientThatLeftFailsWithoutKillingTheProcess) {
    auto server = Create();
    ASSERT_NE(server, nullptr);
    const int client = Client();
    const PipeActivity a = Next(*server);
    ASSERT_EQ(a.kind, Kind::Connected);
    close(client);
    // The first write may still be buffered; a later one must fail, not raise SIGPIPE.
    bool failed = false;
    for (int i = 0; i < 4 && !failed; ++i) {
        failed = !server->Write(a.client, "TW_OK", 5);
    }
    EXPECT_TRUE(failed);
}

TEST_F(PipePosix, ASecondServerOfTheSameNameIsRefusedAndAStaleSocketReplaced) {
    uint32_t error = 0;
    auto first = Create();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pipes_.CreateServer(spec_, *stop_, error), nullptr);
    EXPECT_EQ(error, 231u);  // busy: someone holds the name
    first.reset();           // the socket file stays behind, as after a crash
    ASSERT_EQ(access(SocketPath().c_str(), F_OK), 0);
    EXPECT_NE(pipes_.CreateServer(spec_, *stop_, error), nullptr);
}

}  // namespace
}  // namespace vt::platform::posix
