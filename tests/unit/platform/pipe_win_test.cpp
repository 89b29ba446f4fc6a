// The Windows pipe: every instance created at once, served with overlapped
// I/O. Wine does not enforce the first-instance flag or the refusal of
// remote clients, so the modes each instance is created with are checked as
// values. A client that finds every instance taken is turned away busy.
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pipe/pipe_server.h"
#include "pipe_contract.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {
namespace {

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

// One write is in flight at a time; it is more than the pipe holds.
struct WinSide : PipeSide<WinPipes, WinThreads, HANDLE, 1, 4096> {

    ~WinSide() {
        for (HANDLE h : clients) {
            ::CloseHandle(h);
        }
    }
    HANDLE Open(DWORD& error) {
        HANDLE h = ::CreateFileA(spec.name.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE) {
            clients.push_back(h);
        }
        return h;
    }
    HANDLE Connect() {
        DWORD error = 0;
        HANDLE h = Open(error);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << error;
        return h;
    }
    std::optional<HANDLE> ConnectOverTheLimit() {
        DWORD error = 0;
        EXPECT_EQ(Open(error), INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PIPE_BUSY));
        return std::nullopt;
    }
    static void Send(HANDLE client, const std::string& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(
            ::WriteFile(client, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    static std::string Receive(HANDLE client, size_t size) {
        std::string got(size, '\0');
        DWORD read = 0;
        DWORD total = 0;
        while (total < size && ::ReadFile(client, &got[total], static_cast<DWORD>(size - total),
                                          &read, nullptr)) {
            total += read;
        }
        got.resize(total);
        return got;
    }
    void Close(HANDLE client) {
        ::CloseHandle(client);
        clients.erase(std::find(clients.begin(), clients.end(), client));
    }

    PipeSpec spec = TestSpec();
    std::vector<HANDLE> clients;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win, PipeContract, WinSide);

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

using PipeWinServer = PipeContract<WinSide>;

TEST_F(PipeWinServer, EveryInstanceIsTakenSoNoOneCanAddOne) {
    HANDLE extra = ::CreateNamedPipeA(side.spec.name.c_str(), PIPE_ACCESS_DUPLEX, 0,
                                      side.spec.maxInstances, 128, 128, 0, nullptr);
    EXPECT_EQ(extra, INVALID_HANDLE_VALUE);
    if (extra != INVALID_HANDLE_VALUE) {
        ::CloseHandle(extra);
    }
}

}  // namespace
}  // namespace vt::platform::win32
