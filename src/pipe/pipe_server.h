// The pipe server: up to eight clients connected at once, their requests
// handled one after another on the pipe work item's thread. Each request is
// one read of at most 127 bytes into a zeroed 128-byte buffer; each reply is
// one write of the reply's bytes, no terminator. A client that is silent or
// slow only holds its own connection; when a new client finds every
// connection taken, the one idle the longest is closed to make room.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "pipe/pipe_commands.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/pipe.h"
#include "platform/threads.h"

namespace vt::pipe {

inline constexpr char kPipeName[] = "\\\\.\\pipe\\twvtservicepipe";
inline constexpr uint32_t kReadSize = 127;
inline constexpr uint32_t kBufferSize = 128;
inline constexpr uint32_t kMaxClients = 8;
// One instance more than the clients kept, so a newcomer can always connect
// and push out the longest-idle client.
inline constexpr uint32_t kPipeInstances = kMaxClients + 1;

// The pipe as the service creates it: every instance at once, the first
// with the first-instance flag, so a process that created the name first
// makes our creation fail instead of sharing the name with us, and no other
// process can add an instance later. Remote clients are refused.
platform::PipeSpec ServicePipeSpec();

class PipeServer {
  public:
    PipeServer(platform::Pipes& pipes, platform::EventLog& eventLog, PipeCommands& commands);

    // Creates the pipe, retrying every kCreateRetryMs while the name cannot
    // be had (one error entry per kind of failure, not one per try). False
    // when `stop` was set first.
    bool Start(platform::Event& stop);
    // Waits for the next thing a client does and answers it. False once
    // the stop event is set.
    bool ServeNext();
    // Start, then serve until the stop event is set.
    void Run(platform::Event& stop);

    static constexpr uint32_t kCreateRetryMs = 2000;

  private:
    void Log(std::wstring_view text, platform::EventType type);
    void Admit(uint32_t client);
    void Answer(uint32_t client, const char* request);
    void Forget(uint32_t client);

    platform::Pipes& pipes_;
    platform::EventLog& eventLog_;
    PipeCommands& commands_;
    std::unique_ptr<platform::PipeEndpoint> endpoint_;
    // Per connection: 0 when none, else the number of the last thing it
    // did; the smallest is the one idle the longest.
    std::array<uint64_t, kPipeInstances> lastActive_{};
    uint64_t activity_ = 0;
};

}  // namespace vt::pipe
