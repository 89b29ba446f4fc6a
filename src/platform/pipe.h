// The server end of the local pipe the desktop application talks to.
// Several clients are connected at once and served from one thread: Wait
// reports the next thing any of them does, one at a time, so the caller
// handles requests strictly one after another.
//
// Owned and used by the pipe thread only; the stop event given at creation
// is set from another thread and must outlive the endpoint.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/threads.h"

namespace vt::platform {

// How the pipe is created, as the Windows pipe calls take it; the Linux
// backend uses the name, the instance count and the request size.
struct PipeSpec {
    std::string name;       // "\\.\pipe\..." ; on Linux the last part names the socket
    uint32_t openMode = 0;  // access and flags of the first instance
    uint32_t pipeMode = 0;  // byte/message, wait, remote clients
    // Every instance is created at once, so no other process can add one;
    // this is also the most clients connected at any moment.
    uint32_t maxInstances = 0;
    uint32_t outBufferSize = 0;
    uint32_t inBufferSize = 0;
    uint32_t defaultTimeout = 0;
    uint32_t requestSize = 0;         // the most one read takes: one request
    std::wstring securityDescriptor;  // SDDL; on failure the default security applies
};

inline constexpr uint32_t kPipeAccessDuplex = 0x00000003;
inline constexpr uint32_t kFileFlagFirstPipeInstance = 0x00080000;
inline constexpr uint32_t kPipeTypeByte = 0x0;
inline constexpr uint32_t kPipeRejectRemoteClients = 0x8;
inline constexpr uint32_t kErrorPipeConnected = 535;

// One thing that happened on the pipe. Clients are numbered below the
// spec's instance count; a number is reused once its client is gone.
struct PipeActivity {
    enum class Kind : uint8_t {
        Stopped,        // the stop event is set
        Connected,      // `client` is a new connection
        Request,        // `client` sent `size` bytes, now in the caller's buffer
        Left,           // `client` is gone (closed, or a read or late write failed)
        ConnectFailed,  // waiting for clients failed with `error`; tried again later
    };
    Kind kind = Kind::Stopped;
    uint32_t client = 0;
    uint32_t size = 0;
    uint32_t error = 0;
};

class PipeEndpoint {
  public:
    virtual ~PipeEndpoint() = default;
    // Blocks until a client connects, sends or leaves, or the stop event is
    // set. A Request's bytes (at most the PipeSpec's requestSize) are copied to
    // `request`. Clients that are ready together are reported in turn, so a
    // busy client cannot starve a quiet one.
    virtual PipeActivity Wait(char* request) = 0;
    // One reply to `client`; false when it cannot be delivered (the client
    // is gone). Never blocks: a reply the client does not read yet is kept,
    // and that client's next request is taken only once it has gone out.
    virtual bool Write(uint32_t client, const void* data, uint32_t size) = 0;
    // Ends the connection; its instance waits for a new client.
    virtual void Disconnect(uint32_t client) = 0;
};

class Pipes {
  public:
    // Null with `error` set when the pipe cannot be created (for example
    // because another process already holds an instance of that name).
    // `stop` must be an event made by this platform's Threads.
    virtual std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, Event& stop,
                                                       uint32_t& error) = 0;

  protected:
    ~Pipes() = default;
};

}  // namespace vt::platform
