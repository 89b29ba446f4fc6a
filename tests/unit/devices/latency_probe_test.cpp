// The echo request, the reply matching and the round trip, on a fake raw
// socket and the fake clock.
#include "devices/latency_probe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fakes/fake_platform.h"

namespace vt::devices {
namespace {

using fakes::FakeIcmp;
using fakes::FakePlatform;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1, network order in memory
constexpr uint16_t kOurId = 0xBEEF;         // low 16 bits of the fake's process id

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) {
    return std::vector<uint8_t>(data, data + size);
}

// An IPv4 datagram as a raw socket delivers it: a 20-byte header whose
// byte 8 is the TTL, then the ICMP message.
std::vector<uint8_t> Datagram(uint8_t type, uint16_t id, uint16_t sequence, uint32_t time,
                              size_t payload = 32, uint8_t ttl = 64) {
    std::vector<uint8_t> d(20 + 12 + payload, 0);
    d[0] = 0x45;
    d[8] = ttl;
    d[20] = type;
    std::memcpy(&d[24], &id, 2);
    std::memcpy(&d[26], &sequence, 2);
    std::memcpy(&d[28], &time, 4);
    return d;
}

uint16_t SequenceIn(const FakeIcmp::Sent& request) {
    uint16_t s;
    std::memcpy(&s, &request.bytes[6], 2);
    return s;
}

uint32_t TimeIn(const FakeIcmp::Sent& request) {
    uint32_t t;
    std::memcpy(&t, &request.bytes[8], 4);
    return t;
}

TEST(InternetChecksum, KnownVectors) {
    const std::vector<uint8_t> cases[][2] = {
        // The worked example of the checksum's definition: words 0001 f203
        // f4f5 f6f7 sum to ddf2, so the checksum is 220d (in network order).
        {{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, {0x22, 0x0d}},
        // A real IPv4 header with its checksum field zeroed; it carried b861.
        {{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
          0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7},
         {0xb8, 0x61}},
        // An odd last byte is padded with zero; nothing at all sums to 0.
        {{0x01}, {0xfe, 0xff}},
        {{}, {0xff, 0xff}},
        // Summed as this machine's (little-endian) words, ffff + ffff + 0001
        // is 1ffff: the first fold gives 10000 again, so it takes a second.
        {{0xff, 0xff, 0xff, 0xff, 0x01, 0x00}, {0xfe, 0xff}},
    };
    for (const auto& [bytes, sum] : cases) {
        const uint16_t c = InternetChecksum(bytes.data(), bytes.size());
        EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(&c), 2), sum) << bytes.size() << " bytes";
    }
}

TEST(EchoRequest, BytesAsTheWireCarriesThem) {
    const auto r = BuildEchoRequest(0xBEEF, 0x0102, 0x11223344);
    std::vector<uint8_t> expected(44, 0);
    const uint8_t head[] = {8, 0, 0x9f, 0xfb, 0xef, 0xbe, 0x02, 0x01, 0x44, 0x33, 0x22, 0x11};
    std::memcpy(expected.data(), head, sizeof head);
    EXPECT_EQ(Bytes(r.data(), r.size()), expected);
    // A receiver's check: the sum over the whole message, checksum included.
    EXPECT_EQ(InternetChecksum(r.data(), r.size()), 0);
}

TEST(ProbeClock, FollowsTheWallClockFromTheFirstTickCount) {
    FakePlatform fp;
    fp.clock.Set(5000);
    ProbeClock clock(fp.clock);
    EXPECT_EQ(clock.NowMs(), 5000u);
    fp.clock.Advance(250);
    EXPECT_EQ(clock.NowMs(), 5250u);
    // Setting the wall clock moves it; the tick base stays.
    fp.clock.wallStart += 60000;
    EXPECT_EQ(clock.NowMs(), 65250u);
    // 32 bits: it wraps with the tick count it is based on.
    FakePlatform late;
    late.clock.Set(0xFFFFFFF0u);
    ProbeClock wrapping(late.clock);
    EXPECT_EQ(wrapping.NowMs(), 0xFFFFFFF0u);
    late.clock.Advance(0x20);
    EXPECT_EQ(wrapping.NowMs(), 0x10u);
}

class PingTest : public ::testing::Test {
  protected:
    PingTest() { fp.clock.Set(1000); }
    FakePlatform fp;
    PingState state{fp.clock};
};

TEST_F(PingTest, RequestCarriesIdentifierSequenceAndSendTime) {
    for (int i = 1; i <= 2; ++i) {
        LatencyProbe probe(fp.icmp, state);  // the sequence outlives each probe
        ASSERT_TRUE(probe.usable());
        EXPECT_EQ(probe.identifier(), kOurId);
        EXPECT_TRUE(probe.Ping(kLoopback, nullptr));  // sent; no reply awaited
    }
    EXPECT_THAT(fp.icmp.waits, IsEmpty());
    ASSERT_EQ(fp.icmp.sent.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto& s = fp.icmp.sent[i];
        EXPECT_EQ(s.address, kLoopback);
        EXPECT_EQ(Bytes(s.bytes.data(), s.bytes.size()),
                  Bytes(BuildEchoRequest(kOurId, static_cast<uint16_t>(i + 1), 1000).data(), 44));
    }
    EXPECT_EQ(fp.icmp.opened, 2);
    EXPECT_EQ(fp.icmp.closed, 2);
}

TEST_F(PingTest, SkipsOtherRepliesAndTakesTheMatchingOne) {
    fp.icmp.onSend = [this](const FakeIcmp::Sent& request) {
        const uint32_t t = TimeIn(request);
        auto& in = fp.icmp.incoming;
        in.push_back({30, Datagram(0, kOurId + 1, 1, t)});  // another identifier
        in.push_back({0, Datagram(0, kOurId, 7, t)});       // another sequence
        in.push_back({150, Datagram(8, kOurId, 1, t)});     // our own request, looped back
        // A datagram too short for an echo is not read past its end: here
        // the stale bytes behind it would pass for our reply.
        in.push_back({0, Datagram(8, 0, 0, 0x0001BEEF)});
        in.push_back({10, {0x46, 1, 2, 3}});
        // Ours, exactly as long as the echo header: the shortest that is.
        in.push_back({20, Datagram(0, kOurId, 1, t, 0, 57)});
    };
    LatencyProbe probe(fp.icmp, state);
    PingResult r{};
    ASSERT_TRUE(probe.Ping(kLoopback, &r));
    EXPECT_EQ(r.sequence, 1);
    EXPECT_EQ(r.roundTripMs, 210u);
    EXPECT_EQ(r.payloadBytes, 0u);
    EXPECT_EQ(r.ttl, 57u);
    EXPECT_THAT(fp.icmp.waits, Each(100u));
}

TEST_F(PingTest, GivesUpTwoSecondsAfterSending) {
    // Only replies that never match keep arriving.
    fp.icmp.onSend = [this](const FakeIcmp::Sent& request) {
        for (int i = 0; i < 100; ++i) {
            fp.icmp.incoming.push_back({50, Datagram(0, kOurId, 2, TimeIn(request))});
        }
    };
    LatencyProbe probe(fp.icmp, state);
    PingResult r{};
    EXPECT_FALSE(probe.Ping(kLoopback, &r));
    EXPECT_EQ(fp.clock.TickCount(), 1000u + 2000u);

    // Silence: twenty waits of 100 ms.
    fp.icmp.onSend = nullptr;
    fp.icmp.incoming.clear();
    fp.icmp.waits.clear();
    EXPECT_FALSE(probe.Ping(kLoopback, &r));
    EXPECT_EQ(fp.icmp.waits, std::vector<uint32_t>(20, 100u));
    // A reply that comes just too late is not waited for.
    fp.icmp.waits.clear();
    fp.icmp.incoming.push_back({2001, Datagram(0, kOurId, 3, 0)});
    EXPECT_FALSE(probe.Ping(kLoopback, &r));
}

TEST_F(PingTest, RefusedSocketOrFailedSendIsNoResult) {
    fp.icmp.refuse = true;
    {
        LatencyProbe probe(fp.icmp, state);
        EXPECT_FALSE(probe.usable());
        EXPECT_FALSE(probe.Ping(kLoopback, nullptr));
    }
    fp.icmp.refuse = false;
    fp.icmp.failSend = true;
    LatencyProbe probe(fp.icmp, state);
    PingResult r{};
    EXPECT_FALSE(probe.Ping(kLoopback, &r));
    EXPECT_THAT(fp.icmp.sent, IsEmpty());
    EXPECT_THAT(fp.icmp.waits, IsEmpty());
}

class ProbeLatencyTest : public PingTest {
  protected:
    // The echo comes back after `delay`, carrying the send time minus `age`.
    void AnswerAfter(uint32_t delay, uint32_t age = 0) {
        fp.icmp.onSend = [this, delay, age](const FakeIcmp::Sent& request) {
            const uint32_t t = TimeIn(request) - age;
            fp.icmp.incoming.push_back({delay, Datagram(0, kOurId, SequenceIn(request), t)});
        };
    }
    PanelData Probe() {
        PanelData d{0, 0, 0};
        ProbeLatency(fp.icmp, state, *device, d);
        return d;
    }
    twsim::DeviceState& panel = fp.twlink.Attach({{"model", "CS900"}, {"path", "p"}})->state;
    CS900Device* device = twsim::Api().cs900("p");
};

// Selectors 0 to 2 measure the injected target; others, and a target that
// is no address (it would be the broadcast address), probe nothing.
TEST_F(ProbeLatencyTest, OnlySelectorsZeroToTwoMeasureTheInjectedTarget) {
    AnswerAfter(42);
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 42}, {1, 42}, {2, 42}, {3, 0}};
    for (const auto& [selector, latency] : cases) {
        panel.pingTarget = selector;
        EXPECT_EQ(Probe().latencyMs, latency) << selector;
    }
    panel.pingTarget = 1;
    fp.icmp.probeTarget = "not an address";
    EXPECT_EQ(Probe().latencyMs, 0u);
    ASSERT_EQ(fp.icmp.sent.size(), 3u);
    EXPECT_THAT(fp.icmp.sent, Each(::testing::Field(&FakeIcmp::Sent::address, kLoopback)));
    // The product's own address is what the system was asked to replace.
    EXPECT_THAT(fp.icmp.productAddresses, Each(std::string(kProbeAddress)));
    EXPECT_EQ(fp.icmp.opened, fp.icmp.closed);
}

TEST_F(ProbeLatencyTest, RoundTripsOfTenSecondsOrMoreAreNotShown) {
    panel.pingTarget = 1;
    AnswerAfter(1, 9998);
    EXPECT_EQ(Probe().latencyMs, 9999u);
    AnswerAfter(1, 9999);
    EXPECT_EQ(Probe().latencyMs, 0u);
    // No reply at all.
    fp.icmp.onSend = nullptr;
    EXPECT_EQ(Probe().latencyMs, 0u);
}

}  // namespace
}  // namespace vt::devices
