// Raw ICMP without a network: datagrams sent are recorded, datagrams to
// receive are scripted with the virtual time at which they arrive, and
// every wait runs on the fake clock.
#pragma once

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/icmp.h"

namespace vt::fakes {

class FakeIcmp final : public platform::Icmp {
  public:
    explicit FakeIcmp(FakeClock& clock) : clock_(clock) {}

    struct Sent {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    struct Incoming {
        uint32_t afterMs;  // from the wait that first sees it pending
        std::vector<uint8_t> datagram;
    };

    std::unique_ptr<platform::IcmpSocket> Open() override {
        ++opened;
        if (refuse) {
            return nullptr;
        }
        return std::make_unique<Socket>(*this);
    }
    uint32_t ParseAddress(const std::string& text) override {
        unsigned a = 0, b = 0, c = 0, d = 0;
        char tail = 0;
        if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 ||
            b > 255 || c > 255 || d > 255) {
            return 0xFFFFFFFF;
        }
        return a | b << 8 | c << 16 | d << 24;  // network order in memory
    }
    std::string ProbeTarget(const std::string& productAddress) override {
        productAddresses.push_back(productAddress);
        return probeTarget;
    }
    uint32_t ProcessId() override { return 0x0004BEEF; }

    // Fault switches and scripted input.
    bool refuse = false;
    bool failSend = false;
    std::string probeTarget = "127.0.0.1";
    std::deque<Incoming> incoming;
    // Called with each datagram sent; may script the answer.
    std::function<void(const Sent&)> onSend;

    // What happened.
    int opened = 0;
    int closed = 0;
    std::vector<Sent> sent;
    std::vector<uint32_t> waits;
    std::vector<std::string> productAddresses;

  private:
    class Socket final : public platform::IcmpSocket {
      public:
        explicit Socket(FakeIcmp& icmp) : icmp_(icmp) {}
        ~Socket() override { ++icmp_.closed; }
        bool SendTo(uint32_t address, const uint8_t* data, size_t size) override {
            if (icmp_.failSend) {
                return false;
            }
            icmp_.sent.push_back({address, std::vector<uint8_t>(data, data + size)});
            if (icmp_.onSend) {
                icmp_.onSend(icmp_.sent.back());
            }
            return true;
        }
        bool WaitReadable(uint32_t milliseconds) override {
            icmp_.waits.push_back(milliseconds);
            auto& in = icmp_.incoming;
            if (!in.empty() && in.front().afterMs <= milliseconds) {
                icmp_.clock_.Advance(in.front().afterMs);
                in.front().afterMs = 0;
                return true;
            }
            if (!in.empty()) {
                in.front().afterMs -= milliseconds;
            }
            icmp_.clock_.Advance(milliseconds);
            return false;
        }
        int Receive(uint8_t* buffer, size_t size) override {
            auto& in = icmp_.incoming;
            if (in.empty() || in.front().afterMs != 0) {
                return -1;
            }
            const size_t n = std::min(size, in.front().datagram.size());
            std::memcpy(buffer, in.front().datagram.data(), n);
            in.pop_front();
            return static_cast<int>(n);
        }

      private:
        FakeIcmp& icmp_;
    };

    FakeClock& clock_;
};

}  // namespace vt::fakes
