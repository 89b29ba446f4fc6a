#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

constexpr uint32_t kErrorPipeBusy = 231;
constexpr uint32_t kErrorAccessDenied = 5;

// The last component of a Windows pipe name names the socket.
std::string SocketName(const std::string& pipeName) {
    const size_t slash = pipeName.find_last_of("\\/");
    return slash == std::string::npos ? pipeName : pipeName.substr(slash + 1);
}

bool MakeFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// Another server answering on the socket: creating ours would take the name
// from it, so refuse, as a second first-instance pipe is refused.
bool SomeoneListens(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool answered =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return answered;
}

class SocketEndpoint final : public PipeEndpoint {
  public:
    explicit SocketEndpoint(int listener) : listener_(listener) {}
    ~SocketEndpoint() override {
        Disconnect();
        close(listener_);
    }
    SocketEndpoint(const SocketEndpoint&) = delete;
    SocketEndpoint& operator=(const SocketEndpoint&) = delete;

    bool Connect(uint32_t& error) override {
        if (client_ >= 0) {
            return true;  // still connected: as a pipe answers "already connected"
        }
        for (;;) {
            client_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client_ >= 0) {
                return true;
            }
            if (errno != EINTR) {
                error = static_cast<uint32_t>(errno);
                return false;
            }
        }
    }

    bool Read(void* buffer, uint32_t size, uint32_t& read) override {
        read = 0;
        if (client_ < 0) {
            return false;
        }
        for (;;) {
            const ssize_t n = recv(client_, buffer, size, 0);
            if (n > 0) {
                read = static_cast<uint32_t>(n);
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;  // closed (0) or failed
        }
    }

    bool Write(const void* data, uint32_t size) override {
        if (client_ < 0) {
            return false;
        }
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            // No SIGPIPE: a client that left is a failed write, not a dead service.
            const ssize_t n = send(client_, p, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            p += n;
            size -= static_cast<uint32_t>(n);
        }
        return true;
    }

    void Disconnect() override {
        if (client_ >= 0) {
            close(client_);
            client_ = -1;
        }
    }

  private:
    int listener_;
    int client_ = -1;
};

}  // namespace

std::string RunFolder() {
    const char* dir = std::getenv("VTSERVICE_RUN_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/run/vtservice";
}

std::unique_ptr<PipeEndpoint> PosixPipes::CreateServer(const PipeSpec& spec, uint32_t& error) {
    const std::string folder = RunFolder();
    if (!MakeFolders(folder)) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder + "/" + SocketName(spec.name);
    if (path.size() >= sizeof address.sun_path) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (SomeoneListens(address)) {
        error = kErrorPipeBusy;
        return nullptr;
    }
    unlink(path.c_str());  // a socket left by an earlier run
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        error = static_cast<uint32_t>(errno);
        return nullptr;
    }
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0) {
        error = static_cast<uint32_t>(errno);
        close(listener);
        return nullptr;
    }
    // Any local user may talk to the service, as on Windows.
    chmod(path.c_str(), 0666);
    return std::make_unique<SocketEndpoint>(listener);
}

}  // namespace vt::platform::posix
