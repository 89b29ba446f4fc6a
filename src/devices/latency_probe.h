// The round-trip time to a fixed address, measured with one ICMP echo for
// the case panel's latency mode.
//
// Used by the panel thread alone: the sequence counter and the clock bases
// need no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "devices/twlink.h"
#include "platform/clock.h"
#include "platform/icmp.h"

namespace vt::devices {

// The address the product measures (a public DNS resolver that answers
// echo requests). Systems that must not reach it, test runs among them,
// replace it through Icmp::ProbeTarget.
inline constexpr char kProbeAddress[] = "8.8.8.8";

inline constexpr size_t kEchoRequestSize = 44;
inline constexpr size_t kEchoReceiveSize = 256;
inline constexpr uint32_t kEchoWaitMs = 100;
inline constexpr uint32_t kEchoGiveUpMs = 2000;
// Round trips this long or longer are not shown.
inline constexpr uint32_t kLatencyCapMs = 10000;

struct PingResult {
    uint16_t sequence;
    uint32_t roundTripMs;
    uint32_t payloadBytes;
    uint32_t ttl;
};
static_assert(sizeof(PingResult) == 16);

// The Internet checksum: the ones' complement of the ones' complement sum
// of the 16-bit words in memory order, an odd last byte padded with zero.
uint16_t InternetChecksum(const uint8_t* data, size_t size);

// Type 8, code 0, then identifier, sequence and send time in this machine's
// order, 32 zero bytes, and the checksum over all of it.
std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                                       uint32_t sendTime);

// Milliseconds on the tick-count scale, read from the wall clock: the wall
// clock's distance from its first reading plus the tick count of that
// moment, in 32 bits.
class ProbeClock {
  public:
    explicit ProbeClock(platform::Clock& clock) : clock_(clock) {}
    uint32_t NowMs();

  private:
    platform::Clock& clock_;
    bool based_ = false;
    uint64_t wallBase_ = 0;
    uint32_t tickBase_ = 0;
};

// What lasts from one measurement to the next for the whole process.
struct PingState {
    explicit PingState(platform::Clock& clock) : clock(clock) {}
    ProbeClock clock;
    uint16_t sequence = 0;  // the last one used
};

// One raw ICMP socket, open from construction to destruction.
class LatencyProbe {
  public:
    LatencyProbe(platform::Icmp& icmp, PingState& state);
    LatencyProbe(const LatencyProbe&) = delete;
    LatencyProbe& operator=(const LatencyProbe&) = delete;

    bool usable() const { return socket_ != nullptr; }
    uint16_t identifier() const { return identifier_; }

    // Sends one echo request to `address` (network order). With a null
    // `out`, true once it is sent; otherwise true when the matching reply
    // arrived within kEchoGiveUpMs, with `out` filled.
    bool Ping(uint32_t address, PingResult* out);

  private:
    std::unique_ptr<platform::IcmpSocket> socket_;
    uint16_t identifier_;
    PingState& state_;
    std::array<uint8_t, kEchoRequestSize> sendBuffer_{};
};

// Measures the round trip for the panel's latency mode into
// data.latencyMs, which stays 0 when nothing came back in time, when the
// panel's selector names no target, or when the round trip reaches the cap.
void ProbeLatency(platform::Icmp& icmp, PingState& state, CS900Device& device, PanelData& data);

}  // namespace vt::devices
