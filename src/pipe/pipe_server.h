// The pipe server: one pipe instance, one client at a time, one request
// after another. Each request is one read of at most 127 bytes into a
// zeroed 128-byte buffer; each reply is one write of the reply's bytes, no
// terminator. Runs on the pipe work item's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "pipe/pipe_commands.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/pipe.h"

namespace vt::pipe {

inline constexpr char kPipeName[] = "\\\\.\\pipe\\twvtservicepipe";
inline constexpr uint32_t kReadSize = 127;
inline constexpr uint32_t kBufferSize = 128;

// The pipe as the service creates it. One instance and the first-instance
// flag: anyone who created the name first makes our creation fail instead
// of sharing the name with us. Remote clients are refused.
platform::PipeSpec ServicePipeSpec();

class PipeServer {
  public:
    PipeServer(platform::Pipes& pipes, platform::EventLog& eventLog, platform::Clock& clock,
               PipeCommands& commands);

    // Creates the pipe; false (after an error entry) when it cannot be had.
    bool Start();
    // Waits for one client and serves it until it leaves.
    void ServeOneConnection();
    // Start, then serve client after client. Once `stopping` is raised the
    // server ends after the client it is waiting for or serving, so nothing
    // of it outlives the service when the process lingers.
    void Run(const std::atomic<bool>& stopping);

    // After a failed wait for a client, rather than spinning.
    static constexpr uint32_t kConnectRetryMs = 1000;

  private:
    void Log(std::wstring_view text, platform::EventType type);

    platform::Pipes& pipes_;
    platform::EventLog& eventLog_;
    platform::Clock& clock_;
    PipeCommands& commands_;
    std::unique_ptr<platform::PipeEndpoint> endpoint_;
};

}  // namespace vt::pipe
