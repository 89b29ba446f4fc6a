#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

constexpr uint32_t kErrorPipeBusy = 231;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidParameter = 87;
// After a failed accept the listener rests this long rather than spinning
// on a descriptor that stays readable.
constexpr uint64_t kAcceptRetryMs = 1000;

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
    SocketEndpoint(int listener, int stopFd, uint32_t clients, uint32_t requestSize)
        : listener_(listener), stopFd_(stopFd), requestSize_(requestSize), clients_(clients) {}
    ~SocketEndpoint() override {
        for (uint32_t c = 0; c < clients_.size(); ++c) {
            Disconnect(c);
        }
        close(listener_);
    }
    SocketEndpoint(const SocketEndpoint&) = delete;
    SocketEndpoint& operator=(const SocketEndpoint&) = delete;

    PipeActivity Wait(char* request) override {
        for (;;) {
            while (!ready_.empty()) {
                const int who = ready_.front();
                ready_.pop_front();
                PipeActivity activity;
                if (who == kListener ? Accept(activity) : Serve(who, request, activity)) {
                    return activity;
                }
            }
            if (!Poll()) {
                return {};  // the stop
            }
        }
    }

    bool Write(uint32_t client, const void* data, uint32_t size) override {
        if (client >= clients_.size() || clients_[client].fd < 0) {
            return false;
        }
        clients_[client].unsent.append(static_cast<const char*>(data), size);
        return Flush(clients_[client]);
    }

    void Disconnect(uint32_t client) override {
        if (client < clients_.size() && clients_[client].fd >= 0) {
            close(clients_[client].fd);
            clients_[client].fd = -1;
            clients_[client].unsent.clear();
        }
    }

  private:
    struct Client {
        int fd = -1;
        std::string unsent;  // a reply the client has not taken yet
    };
    static constexpr int kListener = -1;

    bool HasRoom() const {
        for (const Client& c : clients_) {
            if (c.fd < 0) {
                return true;
            }
        }
        return false;
    }

    // One poll() over the stop, the listener (while a place is free) and
    // every client: for its next request, or for room for its reply. Queues
    // everyone ready, the listener first: the round's one accept comes
    // before every client entry, so no entry can meet a place given to a
    // newcomer since the poll. False once the stop is set.
    bool Poll() {
        fds_.clear();
        who_.clear();
        fds_.push_back({stopFd_, POLLIN, 0});
        const uint64_t now = MonotonicMs();
        const bool room = HasRoom();
        const bool resting = now < restUntil_;
        if (room && !resting) {
            fds_.push_back({listener_, POLLIN, 0});
            who_.push_back(kListener);
        }
        for (size_t c = 0; c < clients_.size(); ++c) {
            if (clients_[c].fd >= 0) {
                const short events = clients_[c].unsent.empty() ? POLLIN : POLLOUT;
                fds_.push_back({clients_[c].fd, events, 0});
                who_.push_back(static_cast<int>(c));
            }
        }
        const int timeout = room && resting ? static_cast<int>(restUntil_ - now) : -1;
        if (poll(fds_.data(), fds_.size(), timeout) < 0) {
            return true;  // interrupted: look again
        }
        if (fds_[0].revents != 0) {
            return false;
        }
        for (size_t i = 1; i < fds_.size(); ++i) {
            if (fds_[i].revents != 0) {
                ready_.push_back(who_[i - 1]);
            }
        }
        return true;
    }

    bool Accept(PipeActivity& activity) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                errno == ECONNABORTED) {
                return false;  // nobody to take after all
            }
            // Out of descriptors or memory: the listener stays readable, so
            // rest it instead of spinning; the clients are served meanwhile.
            restUntil_ = MonotonicMs() + kAcceptRetryMs;
            activity = {PipeActivity::Kind::ConnectFailed, 0, 0, static_cast<uint32_t>(errno)};
            return true;
        }
        for (uint32_t c = 0; c < clients_.size(); ++c) {
            if (clients_[c].fd < 0) {
                clients_[c].fd = fd;
                activity = {PipeActivity::Kind::Connected, c, 0, 0};
                return true;
            }
        }
        close(fd);  // polled only with a place free; never reached
        return false;
    }

    bool Serve(int who, char* request, PipeActivity& activity) {
        const uint32_t c = static_cast<uint32_t>(who);
        Client& client = clients_[c];
        if (client.fd < 0) {
            return false;  // disconnected since the poll
        }
        activity = {PipeActivity::Kind::Left, c, 0, 0};
        if (!client.unsent.empty()) {
            return !Flush(
                client);  // the reply went out (or is still on its way): nothing to report
        }
        for (;;) {
            const ssize_t n = recv(client.fd, request, requestSize_, 0);
            if (n > 0) {
                activity = {PipeActivity::Kind::Request, c, static_cast<uint32_t>(n), 0};
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            // Nothing after all, or closed (0) or failed.
            return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        }
    }

    // Sends what the client has not taken yet; true when it is out or has
    // to wait for the client to read, false when the client is gone.
    static bool Flush(Client& client) {
        while (!client.unsent.empty()) {
            // No SIGPIPE: a client that left is a failed write, not a dead service.
            const ssize_t n = send(client.fd, client.unsent.data(), client.unsent.size(),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                client.unsent.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return true;
            } else {
                client.unsent.clear();
                return false;
            }
        }
        return true;
    }

    int listener_;
    int stopFd_;
    uint32_t requestSize_;
    std::vector<Client> clients_;
    std::deque<int> ready_;
    std::vector<pollfd> fds_;
    std::vector<int> who_;
    uint64_t restUntil_ = 0;
};

}  // namespace

std::string RunFolder() {
    const char* dir = std::getenv("VTSERVICE_RUN_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/run/vtservice";
}

std::unique_ptr<PipeEndpoint> PosixPipes::CreateServer(const PipeSpec& spec, Event& stop,
                                                       uint32_t& error) {
    const auto* stopEvent = dynamic_cast<const PosixEvent*>(&stop);
    if (stopEvent == nullptr) {
        error = kErrorInvalidParameter;
        return nullptr;
    }
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
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) {
        error = static_cast<uint32_t>(errno);
        return nullptr;
    }
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, static_cast<int>(spec.maxInstances)) != 0) {
        error = static_cast<uint32_t>(errno);
        close(listener);
        return nullptr;
    }
    // Any local user may talk to the service, as on Windows.
    chmod(path.c_str(), 0666);
    return std::make_unique<SocketEndpoint>(listener, stopEvent->fd(), spec.maxInstances,
                                            spec.requestSize);
}

}  // namespace vt::platform::posix
