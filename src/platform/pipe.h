// The server end of the local pipe the desktop application talks to. One
// instance, one client at a time: connect, read and write any number of
// times, disconnect, connect the next. Used by the pipe thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vt::platform {

// How the pipe is created, as the Windows pipe calls take it; the Linux
// backend uses the name and honours the single instance.
struct PipeSpec {
    std::string name;       // "\\.\pipe\..." ; on Linux the last part names the socket
    uint32_t openMode = 0;  // access and flags
    uint32_t pipeMode = 0;  // byte/message, wait, remote clients
    uint32_t maxInstances = 0;
    uint32_t outBufferSize = 0;
    uint32_t inBufferSize = 0;
    uint32_t defaultTimeout = 0;
    std::wstring securityDescriptor;  // SDDL; on failure the default security applies
};

inline constexpr uint32_t kPipeAccessDuplex = 0x00000003;
inline constexpr uint32_t kFileFlagFirstPipeInstance = 0x00080000;
inline constexpr uint32_t kPipeTypeByte = 0x0;
inline constexpr uint32_t kPipeRejectRemoteClients = 0x8;
inline constexpr uint32_t kErrorPipeConnected = 535;

class PipeEndpoint {
  public:
    virtual ~PipeEndpoint() = default;
    // Waits for a client. False with `error` set on failure; a client that
    // connected before the wait counts as connected.
    virtual bool Connect(uint32_t& error) = 0;
    // One read of at most `size` bytes. False when the client is gone.
    virtual bool Read(void* buffer, uint32_t size, uint32_t& read) = 0;
    // One write of all `size` bytes. False when the client is gone.
    virtual bool Write(const void* data, uint32_t size) = 0;
    virtual void Disconnect() = 0;
};

class Pipes {
  public:
    // Null with `error` set when the pipe cannot be created (for example
    // because another process already holds an instance of that name).
    virtual std::unique_ptr<PipeEndpoint> CreateServer(const PipeSpec& spec, uint32_t& error) = 0;

  protected:
    ~Pipes() = default;
};

}  // namespace vt::platform
