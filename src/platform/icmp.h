// Raw ICMP over IPv4, for the latency probe: one socket per measurement,
// which the probe opens, uses from one thread and closes again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vt::platform {

class IcmpSocket {
  public:
    // Closing the socket also releases whatever opening it took.
    virtual ~IcmpSocket() = default;
    // Sends one ICMP message to `address` (network byte order), port 0.
    virtual bool SendTo(uint32_t address, const uint8_t* data, size_t size) = 0;
    // Waits at most `milliseconds` for a datagram; true when one can be read.
    virtual bool WaitReadable(uint32_t milliseconds) = 0;
    // Reads one datagram, IP header included: its length, or -1 when none.
    virtual int Receive(uint8_t* buffer, size_t size) = 0;
};

class Icmp {
  public:
    // Null when the system refuses a raw socket (it needs administrator
    // rights on either system).
    virtual std::unique_ptr<IcmpSocket> Open() = 0;
    // A dotted IPv4 text as an address in network byte order;
    // 0xFFFFFFFF when it is not one.
    virtual uint32_t ParseAddress(const std::string& text) = 0;
    // The address the latency probe measures: `productAddress` unless this
    // system was told otherwise (Linux: VTSERVICE_PROBE_TARGET, so that test
    // runs of the daemon probe the loopback address only).
    virtual std::string ProbeTarget(const std::string& productAddress) = 0;
    // This process's id; the probe's echo identifier is its low 16 bits.
    virtual uint32_t ProcessId() = 0;

  protected:
    ~Icmp() = default;
};

}  // namespace vt::platform
