// twsim: sends JSON request lines to the device simulator's control endpoint
// and prints each reply line.
//
//   twsim [--endpoint PATH] REQUEST...    requests as arguments
//   twsim [--endpoint PATH] -             requests from standard input
//
// Exit status: 0 when every reply says ok, 1 when one does not, 2 when the
// endpoint cannot be reached or drops the connection, 3 on bad usage.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "endpoint.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

// One connection to the endpoint: whole lines out, whole lines back.
class Connection {
  public:
    // Empty error text when connected.
    std::string Open(const std::string& endpoint) {
#ifdef _WIN32
        const std::wstring name(endpoint.begin(), endpoint.end());
        for (int attempt = 0; attempt < 5; ++attempt) {
            pipe_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            if (pipe_ != INVALID_HANDLE_VALUE) {
                return "";
            }
            if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), 2000)) {
                break;
            }
        }
        return GetLastError() == ERROR_FILE_NOT_FOUND ? "no such pipe (is the library loaded?)"
                                                      : "error " + std::to_string(GetLastError());
#else
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (endpoint.size() >= sizeof addr.sun_path) {
            return "path too long";
        }
        std::memcpy(addr.sun_path, endpoint.c_str(), endpoint.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            return std::strerror(errno);
        }
        return "";
#endif
    }

    bool Send(const std::string& text) {
        for (size_t done = 0; done < text.size();) {
            const long n = Write(text.data() + done, text.size() - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool ReadLine(std::string& line) {
        size_t newline;
        while ((newline = pending_.find('\n')) == std::string::npos) {
            char chunk[4096];
            const long n = Read(chunk, sizeof chunk);
            if (n <= 0) {
                return false;
            }
            pending_.append(chunk, static_cast<size_t>(n));
        }
        line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return true;
    }

  private:
#ifdef _WIN32
    long Write(const char* data, size_t size) {
        DWORD n = 0;
        return WriteFile(pipe_, data, static_cast<DWORD>(size), &n, nullptr) ? long(n) : -1;
    }
    long Read(char* data, size_t size) {
        DWORD n = 0;
        return ReadFile(pipe_, data, static_cast<DWORD>(size), &n, nullptr) ? long(n) : -1;
    }
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
#else
    long Write(const char* data, size_t size) {
        return send(fd_, data, size, MSG_NOSIGNAL);
    }
    long Read(char* data, size_t size) {
        return recv(fd_, data, size, 0);
    }
    int fd_ = -1;
#endif
    std::string pending_;
};

int Usage() {
    std::cerr << "usage: twsim [--endpoint PATH] REQUEST... | -\n"
                 "  each REQUEST is one JSON object, e.g. '{\"cmd\":\"devices\"}';\n"
                 "  '-' reads one request per line from standard input\n";
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    std::string endpoint = twsim::ControlEndpoint();
    std::vector<std::string> requests;
    bool fromStdin = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--endpoint" && i + 1 < argc) {
            endpoint = twsim::EndpointName(argv[++i]);
        } else if (arg == "-") {
            fromStdin = true;
        } else if (arg == "-h" || arg == "--help" || arg.rfind("--", 0) == 0) {
            return Usage();
        } else {
            requests.push_back(arg);
        }
    }
    if (fromStdin) {
        for (std::string line; std::getline(std::cin, line);) {
            if (line.find_first_not_of(" \t\r") != std::string::npos) {
                requests.push_back(line);
            }
        }
    }
    if (requests.empty()) {
        return Usage();
    }

    Connection connection;
    if (const std::string error = connection.Open(endpoint); !error.empty()) {
        std::cerr << "twsim: cannot reach the control endpoint " << endpoint << ": " << error
                  << "\n";
        return 2;
    }
    int status = 0;
    for (const std::string& request : requests) {
        std::string reply;
        if (!connection.Send(request + "\n") || !connection.ReadLine(reply)) {
            std::cerr << "twsim: the control endpoint " << endpoint << " closed the connection\n";
            return 2;
        }
        std::cout << reply << std::endl;
        const auto parsed = nlohmann::json::parse(reply, nullptr, false);
        if (!parsed.is_object() || parsed.value("ok", false) != true) {
            status = 1;
        }
    }
    return status;
}
