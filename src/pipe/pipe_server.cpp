#include "pipe/pipe_server.h"

#include <cstring>

#include "common/service_event.h"

namespace vt::pipe {

using platform::EventType;

platform::PipeSpec ServicePipeSpec() {
    platform::PipeSpec spec;
    spec.name = kPipeName;
    // 0x80003: duplex, and the first-instance flag (0x80000), which is
    // what makes a squatter's earlier instance fail our creation.
    spec.openMode = platform::kPipeAccessDuplex | platform::kFileFlagFirstPipeInstance;
    spec.pipeMode = platform::kPipeTypeByte | platform::kPipeRejectRemoteClients;
    spec.maxInstances = 1;
    spec.outBufferSize = kBufferSize;
    spec.inBufferSize = kBufferSize;
    spec.defaultTimeout = 0;
    // Authenticated users read and write; administrators have full control.
    spec.securityDescriptor = L"D:(A;OICI;GRGW;;;AU)(A;OICI;GA;;;BA)";
    return spec;
}

PipeServer::PipeServer(platform::Pipes& pipes, platform::EventLog& eventLog, platform::Clock& clock,
                       PipeCommands& commands)
    : pipes_(pipes), eventLog_(eventLog), clock_(clock), commands_(commands) {}

void PipeServer::Log(std::wstring_view text, EventType type) {
    WriteServiceEvent(eventLog_, type, text);
}

bool PipeServer::Start() {
    Log(L"TWservice PipeWorkerThread", EventType::Information);
    Log(L"TWservice PipeWorkerThread OK", EventType::Information);
    uint32_t error = 0;
    endpoint_ = pipes_.CreateServer(ServicePipeSpec(), error);
    if (!endpoint_) {
        Log(L"TWservice PipeWorkerThread Invalid handle", EventType::Error);
        return false;
    }
    commands_.StartTemperatureSources();
    Log(L"VTService is Readly,Will While(1)", EventType::Information);
    return true;
}

void PipeServer::ServeOneConnection() {
    uint32_t error = 0;
    if (!endpoint_->Connect(error)) {
        Log(L"TWservice PipeWorkerThread Connect Pipe fail", EventType::Error);
        clock_.Sleep(kConnectRetryMs);
    }
    char buffer[kBufferSize];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        uint32_t read = 0;
        if (!endpoint_->Read(buffer, kReadSize, read)) {
            break;
        }
        // The last byte stays zero, so the text always ends inside the buffer.
        const std::string reply = commands_.Handle(std::string_view(buffer, std::strlen(buffer)));
        if (!endpoint_->Write(reply.data(), static_cast<uint32_t>(reply.size()))) {
            Log(L"TWservice PipeWorkerThread error send ??", EventType::Error);
        }
    }
    endpoint_->Disconnect();
}

void PipeServer::Run(const std::atomic<bool>& stopping) {
    if (!Start()) {
        return;
    }
    while (!stopping) {
        ServeOneConnection();
    }
}

}  // namespace vt::pipe
