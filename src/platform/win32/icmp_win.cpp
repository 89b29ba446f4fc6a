// Winsock's raw ICMP socket with an event that is signalled for FD_READ.
#include <winsock2.h>
// after winsock2.h
#include <windows.h>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

// The probe always measures the product's address here.
class WinIcmp final : public Icmp {
  public:
    std::unique_ptr<IcmpSocket> Open() override;
    uint32_t ParseAddress(const std::string& text) override;
    std::string ProbeTarget(const std::string& productAddress) override;
    uint32_t ProcessId() override;
};

namespace {

class WinIcmpSocket final : public IcmpSocket {
  public:
    WinIcmpSocket(SOCKET socket, WSAEVENT event) : socket_(socket), event_(event) {}
    ~WinIcmpSocket() override {
        ::closesocket(socket_);
        ::WSACloseEvent(event_);
        ::WSACleanup();
    }
    WinIcmpSocket(const WinIcmpSocket&) = delete;
    WinIcmpSocket& operator=(const WinIcmpSocket&) = delete;

    bool SendTo(uint32_t address, const uint8_t* data, size_t size) override {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = 0;
        to.sin_addr.s_addr = address;
        const int sent =
            ::sendto(socket_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return sent != SOCKET_ERROR;
    }

    bool WaitReadable(uint32_t milliseconds) override {
        if (::WSAWaitForMultipleEvents(1, &event_, FALSE, milliseconds, FALSE) ==
            WSA_WAIT_TIMEOUT) {
            return false;
        }
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(socket_, event_, &events) == SOCKET_ERROR) {
            return false;
        }
        return (events.lNetworkEvents & FD_READ) != 0;
    }

    int Receive(uint8_t* buffer, size_t size) override {
        sockaddr_in from{};
        int length = sizeof from;
        const int n = ::recvfrom(socket_, reinterpret_cast<char*>(buffer), static_cast<int>(size),
                                 0, reinterpret_cast<sockaddr*>(&from), &length);
        return n == SOCKET_ERROR ? -1 : n;
    }

  private:
    SOCKET socket_;
    WSAEVENT event_;
};

}  // namespace

std::unique_ptr<IcmpSocket> WinIcmp::Open() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        return nullptr;
    }
    WSAEVENT event = ::WSACreateEvent();
    const SOCKET socket = ::WSASocketW(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
    if (event == WSA_INVALID_EVENT || socket == INVALID_SOCKET) {
        if (socket != INVALID_SOCKET) {
            ::closesocket(socket);
        }
        if (event != WSA_INVALID_EVENT) {
            ::WSACloseEvent(event);
        }
        ::WSACleanup();
        return nullptr;
    }
    ::WSAEventSelect(socket, event, FD_READ);  // without it the waits only time out
    return std::make_unique<WinIcmpSocket>(socket, event);
}

uint32_t WinIcmp::ParseAddress(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string WinIcmp::ProbeTarget(const std::string& productAddress) {
    return productAddress;
}

uint32_t WinIcmp::ProcessId() {
    return ::GetCurrentProcessId();
}

Icmp& SystemIcmp() {
    static WinIcmp icmp;
    return icmp;
}

}  // namespace vt::platform::win32
