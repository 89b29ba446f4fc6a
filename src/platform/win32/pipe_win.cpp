#include <windows.h>
// sddl.h needs windows.h first.
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

// After a failed wait for a client an instance rests this long rather than
// failing again at once.
constexpr ULONGLONG kListenRetryMs = 1000;

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

// Every instance has one operation in flight at most, on its own OVERLAPPED
// and event: waiting for a client, reading its next request, or writing a
// reply the client has not taken yet. All of it is issued and finished on
// the pipe thread, which also owns the endpoint.
class NamedPipeEndpoint final : public PipeEndpoint {
  public:
    NamedPipeEndpoint(HANDLE stop, uint32_t requestSize) : stop_(stop), requestSize_(requestSize) {}
    ~NamedPipeEndpoint() override {
        for (Instance& in : instances_) {
            Cancel(in);
            if (in.pipe != INVALID_HANDLE_VALUE) {
                ::CloseHandle(in.pipe);
            }
            if (in.event != nullptr) {
                ::CloseHandle(in.event);
            }
        }
        if (attributes_ != nullptr) {
            ::LocalFree(attributes_->lpSecurityDescriptor);
            ::LocalFree(attributes_);
        }
    }
    NamedPipeEndpoint(const NamedPipeEndpoint&) = delete;
    NamedPipeEndpoint& operator=(const NamedPipeEndpoint&) = delete;

    // Every instance at once, then each waits for a client. False with the
    // error of the first instance that could not be made.
    bool Create(const PipeSpec& spec, uint32_t& error) {
        attributes_ = MakeAttributes(spec.securityDescriptor);
        // Sized once: the OVERLAPPED records must not move once in use.
        instances_.resize(spec.maxInstances);
        for (uint32_t i = 0; i < spec.maxInstances; ++i) {
            Instance& in = instances_[i];
            in.request.resize(requestSize_ > 0 ? requestSize_ : 1);
            in.event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (in.event == nullptr) {
                error = ::GetLastError();
                return false;
            }
            in.overlapped.hEvent = in.event;
            const PipeInstanceModes modes = InstanceModes(spec, i);
            in.pipe = ::CreateNamedPipeA(spec.name.c_str(), modes.openMode, modes.pipeMode,
                                         spec.maxInstances, spec.outBufferSize, spec.inBufferSize,
                                         spec.defaultTimeout, attributes_);
            if (in.pipe == INVALID_HANDLE_VALUE) {
                error = ::GetLastError();
                return false;
            }
        }
        for (uint32_t i = 0; i < instances_.size(); ++i) {
            Listen(i);
        }
        return true;
    }

    PipeActivity Wait(char* request) override {
        for (;;) {
            if (!reports_.empty()) {
                const PipeActivity activity = reports_.front();
                reports_.pop_front();
                return activity;
            }
            if (!ready_.empty()) {
                const uint32_t i = ready_.front();
                ready_.pop_front();
                PipeActivity activity;
                if (Complete(i, request, activity)) {
                    return activity;
                }
                continue;
            }
            StartDue();
            if (reports_.empty() && !WaitForAny()) {
                return {};  // the stop
            }
        }
    }

    bool Write(uint32_t client, const void* data, uint32_t size) override {
        if (client >= instances_.size() || instances_[client].state != State::Connected) {
            return false;
        }
        Instance& in = instances_[client];
        // The write may finish later, reading from here meanwhile.
        in.reply.assign(static_cast<const char*>(data), size);
        if (::WriteFile(in.pipe, in.reply.data(), size, nullptr, &in.overlapped)) {
            return true;
        }
        if (::GetLastError() == ERROR_IO_PENDING) {
            in.state = State::Writing;  // the next read waits until the client took it
            return true;
        }
        return false;  // the next read finds the client gone
    }

    void Disconnect(uint32_t client) override {
        if (client >= instances_.size()) {
            return;
        }
        Instance& in = instances_[client];
        Cancel(in);
        ::DisconnectNamedPipe(in.pipe);
        Listen(client);
    }

  private:
    enum class State {
        Listening,  // waiting for a client
        Connected,  // nothing in flight; the next read starts at the next Wait
        Reading,
        Writing,
        Gone,     // reported as left; waits for Disconnect
        Resting,  // a wait for a client failed; tried again at restUntil
    };
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr;
        OVERLAPPED overlapped{};
        State state = State::Resting;
        ULONGLONG restUntil = 0;
        std::vector<char> request;  // the read in flight lands here
        std::string reply;          // the write in flight reads from here
    };

    static bool InFlight(const Instance& in) {
        return in.state == State::Listening || in.state == State::Reading ||
               in.state == State::Writing;
    }

    // Ends the operation in flight and waits until the system is done with
    // the instance's OVERLAPPED and buffers.
    static void Cancel(Instance& in) {
        if (InFlight(in)) {
            DWORD ignored = 0;
            ::CancelIoEx(in.pipe, &in.overlapped);
            ::GetOverlappedResult(in.pipe, &in.overlapped, &ignored, TRUE);
        }
        in.state = State::Resting;
    }

    void Listen(uint32_t i) {
        Instance& in = instances_[i];
        in.state = State::Resting;
        if (in.pipe == INVALID_HANDLE_VALUE) {
            return;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            const DWORD error = ::ConnectNamedPipe(in.pipe, &in.overlapped) ? ERROR_PIPE_CONNECTED
                                                                            : ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                in.state = State::Listening;
                return;
            }
            if (error == ERROR_PIPE_CONNECTED) {  // it came before we waited
                in.state = State::Connected;
                reports_.push_back({PipeActivity::Kind::Connected, i, 0, 0});
                return;
            }
            if (error != ERROR_NO_DATA) {
                in.restUntil = ::GetTickCount64() + kListenRetryMs;
                reports_.push_back({PipeActivity::Kind::ConnectFailed, i, 0, error});
                return;
            }
            ::DisconnectNamedPipe(in.pipe);  // it came and left already: wait anew
        }
        in.restUntil = ::GetTickCount64() + kListenRetryMs;
    }

    // Starts the reads of connected clients and wakes rested instances.
    void StartDue() {
        const ULONGLONG now = ::GetTickCount64();
        for (uint32_t i = 0; i < instances_.size(); ++i) {
            Instance& in = instances_[i];
            if (in.state == State::Connected) {
                if (::ReadFile(in.pipe, in.request.data(), requestSize_, nullptr, &in.overlapped) ||
                    ::GetLastError() == ERROR_IO_PENDING) {
                    in.state = State::Reading;
                } else {
                    in.state = State::Gone;
                    reports_.push_back({PipeActivity::Kind::Left, i, 0, 0});
                }
            } else if (in.state == State::Resting && in.restUntil <= now) {
                Listen(i);
            }
        }
    }

    // Waits for the stop or any operation in flight; queues every instance
    // whose operation has finished, in order, so a busy client cannot
    // starve a quiet one. False once the stop is set.
    bool WaitForAny() {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        uint32_t owners[MAXIMUM_WAIT_OBJECTS];
        DWORD count = 0;
        handles[count++] = stop_;
        DWORD timeout = INFINITE;
        const ULONGLONG now = ::GetTickCount64();
        for (uint32_t i = 0; i < instances_.size() && count < MAXIMUM_WAIT_OBJECTS; ++i) {
            const Instance& in = instances_[i];
            if (InFlight(in)) {
                owners[count] = i;
                handles[count++] = in.event;
            } else if (in.state == State::Resting && in.pipe != INVALID_HANDLE_VALUE) {
                const ULONGLONG left = in.restUntil > now ? in.restUntil - now : 0;
                timeout = std::min<DWORD>(timeout, static_cast<DWORD>(left));
            }
        }
        const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, timeout);
        if (result == WAIT_OBJECT_0) {
            return false;
        }
        if (result == WAIT_FAILED) {
            // Not expected with handles of our own; never spin on it.
            reports_.push_back({PipeActivity::Kind::ConnectFailed, 0, 0, ::GetLastError()});
            ::Sleep(static_cast<DWORD>(kListenRetryMs));
            return true;
        }
        for (DWORD k = 1; k < count; ++k) {
            if (::WaitForSingleObject(handles[k], 0) == WAIT_OBJECT_0) {
                ready_.push_back(owners[k]);
            }
        }
        return true;
    }

    // What a finished operation means; false when there is nothing to report.
    bool Complete(uint32_t i, char* request, PipeActivity& activity) {
        Instance& in = instances_[i];
        DWORD size = 0;
        const bool ok = ::GetOverlappedResult(in.pipe, &in.overlapped, &size, FALSE) != FALSE;
        if (!ok && ::GetLastError() == ERROR_IO_INCOMPLETE) {
            return false;
        }
        switch (in.state) {
            case State::Listening:
                if (!ok) {  // the client left before it was taken
                    ::DisconnectNamedPipe(in.pipe);
                    Listen(i);
                    return false;
                }
                in.state = State::Connected;
                activity = {PipeActivity::Kind::Connected, i, 0, 0};
                return true;
            case State::Reading:
                if (!ok) {
                    break;
                }
                std::memcpy(request, in.request.data(), size);
                in.state = State::Connected;
                activity = {PipeActivity::Kind::Request, i, size, 0};
                return true;
            case State::Writing:
                if (!ok) {
                    break;
                }
                in.state = State::Connected;
                return false;
            default:
                return false;
        }
        in.state = State::Gone;
        activity = {PipeActivity::Kind::Left, i, 0, 0};
        return true;
    }

    HANDLE stop_;
    uint32_t requestSize_;
    SECURITY_ATTRIBUTES* attributes_ = nullptr;  // held for the life of the pipe
    std::vector<Instance> instances_;
    std::deque<PipeActivity> reports_;  // found while starting operations
    std::deque<uint32_t> ready_;        // instances whose operation finished
};

}  // namespace

PipeInstanceModes InstanceModes(const PipeSpec& spec, uint32_t index) {
    PipeInstanceModes modes{spec.openMode | FILE_FLAG_OVERLAPPED, spec.pipeMode};
    if (index > 0) {
        modes.openMode &= ~kFileFlagFirstPipeInstance;
    }
    return modes;
}

std::unique_ptr<PipeEndpoint> WinPipes::CreateServer(const PipeSpec& spec, Event& stop,
                                                     uint32_t& error) {
    const auto* stopEvent = dynamic_cast<const WinEvent*>(&stop);
    if (stopEvent == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto endpoint = std::make_unique<NamedPipeEndpoint>(stopEvent->handle(), spec.requestSize);
    if (!endpoint->Create(spec, error)) {
        return nullptr;
    }
    return endpoint;
}

}  // namespace vt::platform::win32
