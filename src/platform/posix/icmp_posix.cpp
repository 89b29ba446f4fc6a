#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

class PosixIcmpSocket final : public IcmpSocket {
  public:
    explicit PosixIcmpSocket(int fd) : fd_(fd) {}
    ~PosixIcmpSocket() override { ::close(fd_); }
    PosixIcmpSocket(const PosixIcmpSocket&) = delete;
    PosixIcmpSocket& operator=(const PosixIcmpSocket&) = delete;

    bool SendTo(uint32_t address, const uint8_t* data, size_t size) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = 0;
        to.sin_addr.s_addr = address;
        const ssize_t sent =
            ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return sent == static_cast<ssize_t>(size);
    }

    bool WaitReadable(uint32_t milliseconds) override {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(milliseconds)) == 1 && (p.revents & POLLIN) != 0;
    }

    int Receive(uint8_t* buffer, size_t size) override {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, size, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        return n < 0 ? -1 : static_cast<int>(n);
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<IcmpSocket> PosixIcmp::Open() {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<PosixIcmpSocket>(fd);
}

uint32_t PosixIcmp::ParseAddress(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string PosixIcmp::ProbeTarget(const std::string& productAddress) {
    const char* target = std::getenv("VTSERVICE_PROBE_TARGET");
    return target != nullptr && *target != '\0' ? target : productAddress;
}

uint32_t PosixIcmp::ProcessId() {
    return static_cast<uint32_t>(::getpid());
}

}  // namespace vt::platform::posix
