// The Windows pipe: every instance created at once, clients served with
// overlapped I/O from one thread, woken by the stop event. Wine does not
// enforce the first-instance flag or the refusal of remote clients, so the
// modes each instance is created with are checked as values.
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "pipe/pipe_server.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {
namespace {

using Kind = PipeActivity::Kind;

PipeSpec TestSpec() {
    PipeSpec spec;
    spec.name = "\\\\.\\pipe\\vt_pipe_win_test_" + std::to_string(::GetCurrentProcessId());
    spec.openMode = kPipeAccessDuplex | kFileFlagFirstPipeInstance;
    spec.pipeMode = kPipeTypeByte | kPipeRejectRemoteClients;
    spec.maxInstances = 3;
    spec.outBufferSize = 128;
    spec.inBufferSize = 128;
    spec.requestSize = 127;
    spec.securityDescriptor = L"D:(A;OICI;0x12019b;;;AU)(A;OICI;GA;;;BA)";
    return spec;
}

TEST(PipeWin, OnlyTheFirstInstanceAsksToBeFirstAndAllAreOverlapped) {
    const PipeSpec spec = TestSpec();
    const PipeInstanceModes first = InstanceModes(spec, 0);
    EXPECT_EQ(first.openMode, 0x40080003u);  // overlapped, first instance, duplex
    EXPECT_EQ(first.pipeMode, 0x8u);         // byte mode, waiting, no remote clients
    for (uint32_t i = 1; i < spec.maxInstances; ++i) {
        EXPECT_EQ(InstanceModes(spec, i).openMode, 0x40000003u);
        EXPECT_EQ(InstanceModes(spec, i).pipeMode, 0x8u);
    }
}

// The rights each entry of the service's own descriptor grants, with its
// generic rights mapped as the system maps them for a pipe (the file
// mapping); Wine does not check pipe access, so this is read, not tried.
ACCESS_MASK RightsOf(PACL dacl, WELL_KNOWN_SID_TYPE who) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    EXPECT_TRUE(::CreateWellKnownSid(who, nullptr, sid, &size));
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    ACCESS_MASK rights = 0;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        EXPECT_TRUE(::GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        if (::EqualSid(&allowed->SidStart, sid)) {
            ACCESS_MASK mask = allowed->Mask;
            ::MapGenericMask(&mask, &mapping);
            rights |= mask;
        }
    }
    return rights;
}

TEST(PipeWin, UsersMayReadAndWriteButNotCreateAnInstanceOfTheServicePipe) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        vt::pipe::ServicePipeSpec().securityDescriptor.c_str(), SDDL_REVISION_1, &descriptor,
        nullptr));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr);
    const ACCESS_MASK users = RightsOf(dacl, WinAuthenticatedUserSid);
    EXPECT_EQ(users & FILE_CREATE_PIPE_INSTANCE, 0u);
    const ACCESS_MASK client = FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;
    EXPECT_EQ(users & client, client);
    EXPECT_EQ(RightsOf(dacl, WinBuiltinAdministratorsSid), static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    ::LocalFree(descriptor);
}

class PipeWinServer : public ::testing::Test {
  protected:
    void SetUp() override {
        uint32_t error = 0;
        server_ = pipes_.CreateServer(spec_, *stop_, error);
        ASSERT_NE(server_, nullptr) << "error " << error;
    }
    void TearDown() override {
        for (HANDLE h : clients_) {
            ::CloseHandle(h);
        }
    }
    HANDLE Client(DWORD* error = nullptr) {
        HANDLE h = ::CreateFileA(spec_.name.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (error != nullptr) {
            *error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        }
        if (h != INVALID_HANDLE_VALUE) {
            clients_.push_back(h);
        }
        return h;
    }
    static void Send(HANDLE client, const std::string& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(
            ::WriteFile(client, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    static std::string Receive(HANDLE client, DWORD size) {
        std::string got(size, '\0');
        DWORD read = 0;
        DWORD total = 0;
        while (total < size &&
               ::ReadFile(client, got.data() + total, size - total, &read, nullptr)) {
            total += read;
        }
        got.resize(total);
        return got;
    }
    PipeActivity Next() {
        request_.assign(128, '\0');
        return server_->Wait(request_.data());
    }

    PipeSpec spec_ = TestSpec();
    WinPipes pipes_;
    WinThreads threads_;
    std::unique_ptr<Event> stop_ = threads_.CreateManualResetEvent();
    std::unique_ptr<PipeEndpoint> server_;
    std::vector<HANDLE> clients_;
    std::string request_;
};

TEST_F(PipeWinServer, EveryInstanceIsTakenSoNoOneCanAddOne) {
    HANDLE extra = ::CreateNamedPipeA(spec_.name.c_str(), PIPE_ACCESS_DUPLEX, 0, spec_.maxInstances,
                                      128, 128, 0, nullptr);
    EXPECT_EQ(extra, INVALID_HANDLE_VALUE);
    if (extra != INVALID_HANDLE_VALUE) {
        ::CloseHandle(extra);
    }
}

TEST_F(PipeWinServer, ServesOneClientWhileAnotherIsSilentAndFreesAPlaceOnDisconnect) {
    HANDLE silent = Client();
    ASSERT_NE(silent, INVALID_HANDLE_VALUE);
    PipeActivity a = Next();
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t silentId = a.client;
    HANDLE talker = Client();
    ASSERT_NE(talker, INVALID_HANDLE_VALUE);
    a = Next();
    ASSERT_EQ(a.kind, Kind::Connected);
    const uint32_t talkerId = a.client;

    Send(talker, "hello");
    a = Next();
    ASSERT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, talkerId);
    EXPECT_EQ(request_.substr(0, a.size), "hello");
    ASSERT_TRUE(server_->Write(talkerId, "TW_OK", 5));
    EXPECT_EQ(Receive(talker, 5), "TW_OK");

    // 200 bytes are read as 127, then 73. More than the pipe holds: the
    // client's write may wait for the reads.
    std::thread writer([talker] { Send(talker, std::string(200, 'x')); });
    EXPECT_EQ(Next().size, 127u);
    EXPECT_EQ(Next().size, 73u);
    writer.join();

    ASSERT_NE(Client(), INVALID_HANDLE_VALUE);  // the third and last place
    EXPECT_EQ(Next().kind, Kind::Connected);
    DWORD error = 0;
    EXPECT_EQ(Client(&error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PIPE_BUSY));
    server_->Disconnect(silentId);
    EXPECT_EQ(Receive(silent, 1), "");  // closed by the server
    ASSERT_NE(Client(), INVALID_HANDLE_VALUE);
    a = Next();
    EXPECT_EQ(a.kind, Kind::Connected);
    EXPECT_EQ(a.client, silentId);
}

// A reply the client does not read yet blocks nobody; its next request is
// taken once the reply is out.
TEST_F(PipeWinServer, AReplyTheClientDoesNotReadBlocksNobody) {
    HANDLE slow = Client();
    const PipeActivity first = Next();
    ASSERT_EQ(first.kind, Kind::Connected);
    const std::string reply(4096, 'r');  // more than the pipe holds
    ASSERT_TRUE(server_->Write(first.client, reply.data(), static_cast<DWORD>(reply.size())));

    HANDLE other = Client();
    ASSERT_EQ(Next().kind, Kind::Connected);
    Send(other, "hello");
    PipeActivity a = Next();
    ASSERT_EQ(a.kind, Kind::Request);
    ASSERT_TRUE(server_->Write(a.client, "TW_OK", 5));
    EXPECT_EQ(Receive(other, 5), "TW_OK");

    std::thread reader([&] {
        EXPECT_EQ(Receive(slow, 4096), reply);
        Send(slow, "next");
    });
    a = Next();
    reader.join();
    EXPECT_EQ(a.kind, Kind::Request);
    EXPECT_EQ(a.client, first.client);
    EXPECT_EQ(request_.substr(0, a.size), "next");
}

TEST_F(PipeWinServer, TheStopEventEndsAWaitWithNoClient) {
    std::thread stopper([this] { stop_->Set(); });
    EXPECT_EQ(Next().kind, Kind::Stopped);
    stopper.join();
}

}  // namespace
}  // namespace vt::platform::win32
