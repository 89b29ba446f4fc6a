// The Linux pipe: a Unix socket in the run folder, one server per name.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

class PipePosix : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vtpipeXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        runDir_ = dir_ + "/run/nested";  // made on demand
        setenv("VTSERVICE_RUN_DIR", runDir_.c_str(), 1);
        spec_.name = "\\\\.\\pipe\\twvtservicepipe";
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

    std::string dir_, runDir_;
    PipeSpec spec_;
    PosixPipes pipes_;
};

TEST_F(PipePosix, ServesARequestAndItsReplyOnTheNamedSocket) {
    uint32_t error = 0;
    auto server = pipes_.CreateServer(spec_, error);
    ASSERT_NE(server, nullptr);
    struct stat st {};
    ASSERT_EQ(stat(SocketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);  // every local user may talk to the service

    const int client = Client();
    ASSERT_TRUE(server->Connect(error));
    ASSERT_EQ(write(client, "hello", 5), 5);
    char buffer[128] = {};
    uint32_t read = 0;
    ASSERT_TRUE(server->Read(buffer, 127, read));
    EXPECT_EQ(std::string(buffer, read), "hello");
    ASSERT_TRUE(server->Write("TW_OK", 5));
    char reply[16] = {};
    EXPECT_EQ(recv(client, reply, sizeof reply, 0), 5);
    EXPECT_EQ(std::string(reply, 5), "TW_OK");

    close(client);
    EXPECT_FALSE(server->Read(buffer, 127, read));  // the client left
    server->Disconnect();
}

TEST_F(PipePosix, WritingToAClientThatLeftFailsWithoutKillingTheProcess) {
    uint32_t error = 0;
    auto server = pipes_.CreateServer(spec_, error);
    ASSERT_NE(server, nullptr);
    const int client = Client();
    ASSERT_TRUE(server->Connect(error));
    close(client);
    // The first write may still be buffered; a later one must fail, not raise SIGPIPE.
    bool failed = false;
    for (int i = 0; i < 4 && !failed; ++i) {
        failed = !server->Write("TW_OK", 5);
    }
    EXPECT_TRUE(failed);
}

TEST_F(PipePosix, ASecondServerOfTheSameNameIsRefusedAndAStaleSocketReplaced) {
    uint32_t error = 0;
    auto first = pipes_.CreateServer(spec_, error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pipes_.CreateServer(spec_, error), nullptr);
    EXPECT_EQ(error, 231u);  // busy: someone holds the name
    first.reset();           // the socket file stays behind, as after a crash
    ASSERT_EQ(access(SocketPath().c_str(), F_OK), 0);
    EXPECT_NE(pipes_.CreateServer(spec_, error), nullptr);
}

}  // namespace
}  // namespace vt::platform::posix
