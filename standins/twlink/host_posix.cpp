// Linux side of the simulator: files, the library's folder and the control
// endpoint on a Unix stream socket.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "endpoint.h"
#include "host.h"
#include "sim.h"

namespace twsim {

namespace {

constexpr int kMaxConnections = 16;
std::atomic<int> g_connections{0};

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket file some live process still answers on.
bool Answered(const sockaddr_un& addr) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered =
        fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return answered;
}

void ServeConnection(Simulator& sim, int fd) {
    auto read = [fd](char* buffer, size_t size) -> long {
        for (;;) {
            const ssize_t n = recv(fd, buffer, size, 0);
            if (n >= 0 || errno != EINTR) {
                return n;
            }
        }
    };
    auto write = [fd](const std::string& text) {
        for (size_t done = 0; done < text.size();) {
            // MSG_NOSIGNAL: a client that went away must not kill the host.
            const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    };
    sim.Serve(read, write);
    close(fd);
}

void AcceptLoop(Simulator& sim, int listener) {
    NameThisThread("twsim-control");
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR) {
                // Out of descriptors, say: wait instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            continue;
        }
        if (g_connections.fetch_add(1) >= kMaxConnections) {
            g_connections.fetch_sub(1);
            close(fd);
            continue;
        }
        std::thread([&sim, fd] {
            NameThisThread("twsim-client");
            ServeConnection(sim, fd);
            g_connections.fetch_sub(1);
        }).detach();
    }
}

}  // namespace

std::string EnvVar(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) {
        return "./";
    }
    const std::string file = info.dli_fname;
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "./" : file.substr(0, slash + 1);
}

std::FILE* OpenFile(const std::string& path, bool write) {
    return std::fopen(path.c_str(), write ? "wb" : "rb");
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

void NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

void StartControlEndpoint(Simulator& sim) {
    const std::string path = ControlEndpoint();
    sockaddr_un addr;
    if (!FillAddress(path, addr)) {
        Say("control socket path too long: " + path);
        return;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        // Only a socket nobody answers on is ours to replace.
        if (!S_ISSOCK(st.st_mode) || Answered(addr)) {
            Say("control endpoint " + path + " is in use; no control endpoint");
            return;
        }
        unlink(path.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        Say("cannot open control endpoint " + path + ": " + std::strerror(errno));
        if (fd >= 0) {
            close(fd);
        }
        return;
    }
    std::thread([&sim, fd] { AcceptLoop(sim, fd); }).detach();
}

}  // namespace twsim
