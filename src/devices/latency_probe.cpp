#include "common/outside_calls.h"
#include "devices/latency_probe.h"

#include <cstring>
#include <string>

namespace vt::devices {

namespace {

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr size_t kEchoHeaderSize = 12;  // type, code, checksum, id, sequence, time
constexpr uint32_t kNoAddress = 0xFFFFFFFF;
constexpr uint32_t kLastTargetSelector = 2;  // selectors 0, 1 and 2 all probe

template <class T>
T ReadAt(const uint8_t* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <class T>
void WriteAt(uint8_t* bytes, T value) {
    std::memcpy(bytes, &value, sizeof value);
}

}  // namespace

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < size; i += 2) {
        sum += ReadAt<uint16_t>(data + i);
    }
    if (i < size) {
        uint8_t last[2] = {data[i], 0};
        sum += ReadAt<uint16_t>(last);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

std::array<uint8_t, kEchoRequestSize> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                                       uint32_t sendTime) {
    std::array<uint8_t, kEchoRequestSize> r{};
    r[0] = kEchoRequest;
    r[1] = 0;
    WriteAt(&r[4], identifier);
    WriteAt(&r[6], sequence);
    WriteAt(&r[8], sendTime);
    WriteAt(&r[2], InternetChecksum(r.data(), r.size()));
    return r;
}

uint32_t ProbeClock::NowMs() {
    const uint64_t wall = clock_.LocalTimeMs();
    if (!based_) {
        based_ = true;
        wallBase_ = wall;
        tickBase_ = clock_.TickCount();
    }
    return static_cast<uint32_t>(wall - wallBase_ + tickBase_);
}

LatencyProbe::LatencyProbe(platform::Icmp& icmp, PingState& state)
    : socket_(icmp.Open()), identifier_(static_cast<uint16_t>(icmp.ProcessId())), state_(state) {}

bool LatencyProbe::Ping(uint32_t address, PingResult* out) {
    if (!usable()) {
        return false;
    }
    const uint32_t sendTime = state_.clock.NowMs();
    const uint16_t sequence = ++state_.sequence;
    sendBuffer_ = BuildEchoRequest(identifier_, sequence, sendTime);
    if (!socket_->SendTo(address, sendBuffer_.data(), sendBuffer_.size())) {
        return false;
    }
    if (out == nullptr) {
        return true;
    }
    uint8_t datagram[kEchoReceiveSize] = {};
    for (;;) {
        if (socket_->WaitReadable(kEchoWaitMs)) {
            const uint32_t recvTime = state_.clock.NowMs();
            const int n = socket_->Receive(datagram, sizeof datagram);
            const size_t h = static_cast<size_t>(datagram[0] & 0x0F) * 4;
            // A datagram too short for the echo header is someone else's
            // and is never read beyond what arrived.
            if (n > 0 && h + kEchoHeaderSize <= static_cast<size_t>(n)) {
                const uint8_t* message = datagram + h;
                if (ReadAt<uint16_t>(message + 4) == identifier_ && message[0] == kEchoReply &&
                    ReadAt<uint16_t>(message + 6) == sequence) {
                    out->sequence = sequence;
                    out->roundTripMs = recvTime - ReadAt<uint32_t>(message + 8);
                    out->payloadBytes = static_cast<uint32_t>(n) - static_cast<uint32_t>(h) -
                                        static_cast<uint32_t>(kEchoHeaderSize);
                    out->ttl = datagram[8];
                    return true;
                }
            }
        }
        if (state_.clock.NowMs() - sendTime >= kEchoGiveUpMs) {
            return false;
        }
    }
}

void ProbeLatency(platform::Icmp& icmp, PingState& state, CS900Device& device, PanelData& data) {
    LatencyProbe probe(icmp, state);
    uint32_t selector = 0;
    {
        OutsideCall call("CS900 GetPingTarget");
        device.GetPingTarget(&selector);
    }
    if (selector > kLastTargetSelector) {
        return;
    }
    const uint32_t address = icmp.ParseAddress(icmp.ProbeTarget(kProbeAddress));
    if (address == kNoAddress) {
        return;  // never the broadcast address a bad text would turn into
    }
    PingResult result{};
    if (probe.Ping(address, &result) && result.roundTripMs < kLatencyCapMs) {
        data.latencyMs = result.roundTripMs;
    }
}

}  // namespace vt::devices
