// A real echo over the loopback interface, and where the probe's target
// comes from. Nothing here sends to any address but 127.0.0.1.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "devices/latency_probe.h"
#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

TEST(PosixIcmp, EchoToLoopbackMeasuresASmallRoundTrip) {
    PosixIcmp icmp;
    PosixClock clock;
    devices::PingState state(clock);
    devices::LatencyProbe probe(icmp, state);
    if (!probe.usable()) {
        GTEST_SKIP() << "raw ICMP sockets are refused here (they need root or CAP_NET_RAW)";
    }
    const uint32_t loopback = icmp.ParseAddress("127.0.0.1");
    ASSERT_EQ(loopback, 0x0100007Fu);
    devices::PingResult r{};
    ASSERT_TRUE(probe.Ping(loopback, &r)) << "no echo reply from 127.0.0.1 within 2 s";
    EXPECT_EQ(r.sequence, 1);
    EXPECT_LT(r.roundTripMs, 500u);
    EXPECT_EQ(r.payloadBytes, 32u);
    EXPECT_GT(r.ttl, 0u);
    // The next request is told apart by its sequence.
    ASSERT_TRUE(probe.Ping(loopback, &r));
    EXPECT_EQ(r.sequence, 2);
}

TEST(PosixIcmp, ProbeTargetIsReplacedOnlyWhenTheEnvironmentSaysSo) {
    PosixIcmp icmp;
    ::setenv("VTSERVICE_PROBE_TARGET", "127.0.0.1", 1);
    EXPECT_EQ(icmp.ProbeTarget("192.0.2.1"), "127.0.0.1");
    ::setenv("VTSERVICE_PROBE_TARGET", "", 1);
    EXPECT_EQ(icmp.ProbeTarget("192.0.2.1"), "192.0.2.1");
    ::unsetenv("VTSERVICE_PROBE_TARGET");
    EXPECT_EQ(icmp.ProbeTarget("192.0.2.1"), "192.0.2.1");
    EXPECT_EQ(icmp.ParseAddress("no address"), 0xFFFFFFFFu);
    EXPECT_EQ(icmp.ProcessId(), static_cast<uint32_t>(::getpid()));
}

}  // namespace
}  // namespace vt::platform::posix
