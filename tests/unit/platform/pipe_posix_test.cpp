// The Linux pipe: a Unix socket in the run folder, one server per name. A
// client that finds every place taken waits in the socket's queue.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"
#include "pipe_contract.h"

namespace vt::platform::posix {
namespace {

// Far more replies than a socket holds.
struct PosixSide : PipeSide<PosixPipes, PosixThreads, int, 5000, 7> {

    PosixSide() {
        char tmpl[] = "/tmp/vtpipeXXXXXX";
        EXPECT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        runDir = dir + "/run/nested";  // made on demand
        setenv("VTSERVICE_RUN_DIR", runDir.c_str(), 1);
        spec.name = "\\\\.\\pipe\\twvtservicepipe";
        spec.maxInstances = 3;
        spec.requestSize = 127;
    }
    ~PosixSide() {
        for (int fd : clients) {
            close(fd);
        }
        unsetenv("VTSERVICE_RUN_DIR");
        std::system(("rm -rf " + dir).c_str());
    }
    std::string SocketPath() const { return runDir + "/twvtservicepipe"; }
    int Connect() {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, SocketPath().c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        clients.push_back(fd);
        return fd;
    }
    // Connected, and waiting in the queue until the server takes it.
    std::optional<int> ConnectOverTheLimit() { return Connect(); }
    static void Send(int fd, const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    static std::string Receive(int fd, size_t size) {
        std::string got;
        char buffer[4096];
        ssize_t n = 0;
        while (got.size() < size &&
               (n = recv(fd, buffer, std::min(sizeof buffer, size - got.size()), 0)) > 0) {
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    void Close(int fd) {
        close(fd);
        clients.erase(std::find(clients.begin(), clients.end(), fd));
    }

    std::string dir, runDir;
    PipeSpec spec;
    std::vector<int> clients;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, PipeContract, PosixSide);

using PipePosix = PipeContract<PosixSide>;

TEST_F(PipePosix, EveryLocalUserMayTalkToTheService) {
    struct stat st {};
    ASSERT_EQ(stat(side.SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(PipePosix, WritingToAClientThatLeftFailsWithoutKillingTheProcess) {
    const int client = side.Connect();
    const PipeActivity a = Next();
    ASSERT_EQ(a.kind, Kind::Connected);
    side.Close(client);
    // The first write may still be buffered; a later one must fail, not raise SIGPIPE.
    bool failed = false;
    for (int i = 0; i < 4 && !failed; ++i) {
        failed = !server->Write(a.client, "TW_OK", 5);
    }
    EXPECT_TRUE(failed);
}

TEST_F(PipePosix, ASecondServerOfTheSameNameIsRefusedAndAStaleSocketReplaced) {
    uint32_t error = 0;
    EXPECT_EQ(pipes.CreateServer(side.spec, *stop, error), nullptr);
    EXPECT_EQ(error, 231u);  // busy: someone holds the name
    server.reset();          // the socket file stays behind, as after a crash
    ASSERT_EQ(access(side.SocketPath().c_str(), F_OK), 0);
    EXPECT_NE(pipes.CreateServer(side.spec, *stop, error), nullptr);
}

}  // namespace
}  // namespace vt::platform::posix
