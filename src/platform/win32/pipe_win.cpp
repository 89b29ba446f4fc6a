#include <windows.h>
// sddl.h needs windows.h first.
#include <sddl.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

class NamedPipeEndpoint final : public PipeEndpoint {
  public:
    NamedPipeEndpoint(HANDLE pipe, SECURITY_ATTRIBUTES* attributes)
        : pipe_(pipe), attributes_(attributes) {}
    ~NamedPipeEndpoint() override {
        ::CloseHandle(pipe_);
        if (attributes_ != nullptr) {
            ::LocalFree(attributes_->lpSecurityDescriptor);
            ::LocalFree(attributes_);
        }
    }
    NamedPipeEndpoint(const NamedPipeEndpoint&) = delete;
    NamedPipeEndpoint& operator=(const NamedPipeEndpoint&) = delete;

    bool Connect(uint32_t& error) override {
        if (::ConnectNamedPipe(pipe_, nullptr)) {
            return true;
        }
        error = ::GetLastError();
        // A client that opened the pipe before we waited is connected.
        return error == ERROR_PIPE_CONNECTED;
    }

    bool Read(void* buffer, uint32_t size, uint32_t& read) override {
        DWORD got = 0;
        const bool ok = ::ReadFile(pipe_, buffer, size, &got, nullptr) != FALSE;
        read = got;
        return ok;
    }

    bool Write(const void* data, uint32_t size) override {
        DWORD written = 0;
        return ::WriteFile(pipe_, data, size, &written, nullptr) != FALSE;
    }

    void Disconnect() override { ::DisconnectNamedPipe(pipe_); }

  private:
    HANDLE pipe_;
    SECURITY_ATTRIBUTES* attributes_;  // held for the life of the pipe
};

// The pipe's security from its SDDL text; null (default security) when the
// descriptor or the attributes cannot be made, with the error code of the
// failure left in place.
SECURITY_ATTRIBUTES* MakeAttributes(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return nullptr;
    }
    auto* attributes =
        static_cast<SECURITY_ATTRIBUTES*>(::LocalAlloc(LPTR, sizeof(SECURITY_ATTRIBUTES)));
    if (attributes == nullptr) {
        const DWORD error = ::GetLastError();
        ::LocalFree(descriptor);
        ::SetLastError(error);
        return nullptr;
    }
    attributes->nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes->lpSecurityDescriptor = descriptor;
    attributes->bInheritHandle = FALSE;
    return attributes;
}

}  // namespace

std::unique_ptr<PipeEndpoint> WinPipes::CreateServer(const PipeSpec& spec, uint32_t& error) {
    SECURITY_ATTRIBUTES* attributes = MakeAttributes(spec.securityDescriptor);
    HANDLE pipe =
        ::CreateNamedPipeA(spec.name.c_str(), spec.openMode, spec.pipeMode, spec.maxInstances,
                           spec.outBufferSize, spec.inBufferSize, spec.defaultTimeout, attributes);
    if (pipe == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        if (attributes != nullptr) {
            ::LocalFree(attributes->lpSecurityDescriptor);
            ::LocalFree(attributes);
        }
        return nullptr;
    }
    return std::make_unique<NamedPipeEndpoint>(pipe, attributes);
}

}  // namespace vt::platform::win32
