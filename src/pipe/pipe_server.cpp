#include "pipe/pipe_server.h"

#include <algorithm>
#include <cstring>

#include "common/service_event.h"

namespace vt::pipe {

using platform::EventType;
using platform::PipeActivity;

platform::PipeSpec ServicePipeSpec() {
    platform::PipeSpec spec;
    spec.name = kPipeName;
    // 0x80003: duplex, and the first-instance flag (0x80000), which is
    // what makes a squatter's earlier instance fail our creation.
    spec.openMode = platform::kPipeAccessDuplex | platform::kFileFlagFirstPipeInstance;
    spec.pipeMode = platform::kPipeTypeByte | platform::kPipeRejectRemoteClients;
    spec.maxInstances = kPipeInstances;
    spec.outBufferSize = kBufferSize;
    spec.inBufferSize = kBufferSize;
    spec.defaultTimeout = 0;
    spec.requestSize = kReadSize;
    // Authenticated users read and write; administrators have full control.
    // The users' rights are spelled out (0x12019b: read and write data,
    // attributes and extended attributes, read control, synchronize)
    // because generic write would map to the file write set, whose append
    // bit is, on a pipe, the right to create an instance of the name: any
    // user could then add an instance while the service's own are being
    // made or closed and answer clients in its place.
    spec.securityDescriptor = L"D:(A;OICI;0x12019b;;;AU)(A;OICI;GA;;;BA)";
    return spec;
}

PipeServer::PipeServer(platform::Pipes& pipes, platform::EventLog& eventLog, PipeCommands& commands)
    : pipes_(pipes), eventLog_(eventLog), commands_(commands) {}

void PipeServer::Log(std::wstring_view text, EventType type) {
    WriteServiceEvent(eventLog_, type, text);
}

bool PipeServer::Start(platform::Event& stop) {
    Log(L"TWservice PipeWorkerThread", EventType::Information);
    Log(L"TWservice PipeWorkerThread OK", EventType::Information);
    // The name may be held for a while by someone else (an earlier copy of
    // the service still ending, or a squatter): serve as soon as it is free.
    std::vector<uint32_t> reported;
    for (;;) {
        uint32_t error = 0;
        endpoint_ = pipes_.CreateServer(ServicePipeSpec(), stop, error);
        if (endpoint_) {
            break;
        }
        if (std::find(reported.begin(), reported.end(), error) == reported.end()) {
            reported.push_back(error);
            Log(L"TWservice PipeWorkerThread Invalid handle", EventType::Error);
        }
        if (stop.Wait(kCreateRetryMs) != platform::kWaitTimeout) {
            return false;
        }
    }
    Log(L"VTService is Readly,Will While(1)", EventType::Information);
    return true;
}

bool PipeServer::ServeNext() {
    char buffer[kBufferSize] = {};
    const PipeActivity activity = endpoint_->Wait(buffer);
    if (activity.kind == PipeActivity::Kind::Stopped) {
        return false;
    }
    if (activity.kind == PipeActivity::Kind::ConnectFailed) {
        Log(L"TWservice PipeWorkerThread Connect Pipe fail", EventType::Error);
        return true;
    }
    if (activity.client >= lastActive_.size()) {
        return true;  // not a client we could have
    }
    switch (activity.kind) {
        case PipeActivity::Kind::Connected:
            Admit(activity.client);
            break;
        case PipeActivity::Kind::Request:
            Answer(activity.client, buffer);
            break;
        case PipeActivity::Kind::Left:
            Forget(activity.client);
            break;
        default:
            break;
    }
    return true;
}

void PipeServer::Admit(uint32_t client) {
    lastActive_[client] = ++activity_;
    uint32_t connected = 0;
    uint32_t idlest = client;
    for (uint32_t c = 0; c < lastActive_.size(); ++c) {
        if (lastActive_[c] == 0) {
            continue;
        }
        ++connected;
        if (lastActive_[c] < lastActive_[idlest]) {
            idlest = c;
        }
    }
    if (connected > kMaxClients) {
        Forget(idlest);
    }
}

void PipeServer::Answer(uint32_t client, const char* request) {
    lastActive_[client] = ++activity_;
    // The last byte stays zero, so the text always ends inside the buffer.
    const std::string reply = commands_.Handle(std::string_view(request, std::strlen(request)));
    if (!endpoint_->Write(client, reply.data(), static_cast<uint32_t>(reply.size()))) {
        Log(L"TWservice PipeWorkerThread error send ??", EventType::Error);
    }
}

void PipeServer::Forget(uint32_t client) {
    lastActive_[client] = 0;
    endpoint_->Disconnect(client);
}

void PipeServer::Run(platform::Event& stop) {
    if (!Start(stop)) {
        return;
    }
    while (ServeNext()) {
    }
}

}  // namespace vt::pipe
