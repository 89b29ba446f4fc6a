// vtctl: talks to the service's pipe the way the desktop application does,
// for testing and for poking at a running service by hand.
//
//   vtctl [--pipe PATH] [--raw] [--hex] [--timeout MS] REQUEST...
//   vtctl [--pipe PATH] [--timeout MS] doctor
//
// Every request goes out on one connection, one after another: its bytes as
// given (no terminator), then the reply is read and printed on a line of its
// own. Replies carry no delimiter or length, so a reply is whatever arrives
// until the line has been quiet for a short while.
//
// Exit status: 0 when every request got a reply, 1 when the connection
// dropped or went silent before a reply, 2 when the service cannot be
// reached, 3 on bad usage.
//
// `doctor` checks the installation instead (doctor.h): one line per check,
// a summary, exit status 1 when a check failed. `vtctl -- doctor` sends the
// word as a request.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "doctor.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#endif

namespace {

// After the first bytes of a reply, the reply is over once nothing more has
// arrived for this long. The service answers in one write, so this only has
// to cover the scheduling gap between two replies of a split request.
constexpr uint32_t kQuietMs = 100;
constexpr uint32_t kDefaultTimeoutMs = 5000;

enum class ReadResult { kReply, kClosed, kTimedOut, kFailed };

#ifdef _WIN32

constexpr char kDefaultEndpoint[] = "\\\\.\\pipe\\twvtservicepipe";
constexpr DWORD kBusyWaitMs = 3000;

std::string ErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out + " (error " + std::to_string(error) + ")";
}

// A bare name means a pipe on this machine.
std::string EndpointName(const std::string& given) {
    return given.rfind("\\\\", 0) == 0 ? given : "\\\\.\\pipe\\" + given;
}

// Overlapped I/O, so that every wait has a time limit: a service that
// stopped reading or answering must not hang the client.
class Connection {
  public:
    ~Connection() {
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CloseHandle(pipe_);
        }
        if (event_ != nullptr) {
            CloseHandle(event_);
        }
    }

    // Empty on success, else why not.
    std::string Open(const std::string& endpoint) {
        // The service has one pipe instance: while another client holds it
        // the pipe is busy, and we wait our turn for a while.
        for (int attempt = 0; attempt < 3; ++attempt) {
            // Not generic write: its append bit is, on a pipe, the right to
            // create an instance, which the service grants users no more.
            pipe_ = CreateFileA(endpoint.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (pipe_ != INVALID_HANDLE_VALUE) {
                break;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_PIPE_BUSY || !WaitNamedPipeA(endpoint.c_str(), kBusyWaitMs)) {
                return error == ERROR_PIPE_BUSY ? "the pipe stayed busy" : ErrorText(error);
            }
        }
        if (pipe_ == INVALID_HANDLE_VALUE) {
            return "the pipe stayed busy";
        }
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return event_ != nullptr ? "" : ErrorText(GetLastError());
    }

    bool Send(const std::string& bytes, uint32_t timeoutMs) {
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD n = 0;
            char* data = const_cast<char*>(bytes.data() + done);
            if (Transfer(true, data, static_cast<DWORD>(bytes.size() - done), timeoutMs, n) !=
                    ReadResult::kReply ||
                n == 0) {
                return false;
            }
            done += n;
        }
        return true;
    }

    ReadResult Receive(char* buffer, DWORD size, uint32_t timeoutMs, DWORD& got) {
        return Transfer(false, buffer, size, timeoutMs, got);
    }

  private:
    ReadResult Transfer(bool write, char* data, DWORD size, uint32_t timeoutMs, DWORD& done) {
        done = 0;
        OVERLAPPED ov{};
        ov.hEvent = event_;
        ResetEvent(event_);
        const BOOL started = write ? WriteFile(pipe_, data, size, nullptr, &ov)
                                   : ReadFile(pipe_, data, size, nullptr, &ov);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return Broken(GetLastError());
        }
        bool timedOut = false;
        if (WaitForSingleObject(event_, timeoutMs) == WAIT_TIMEOUT) {
            CancelIoEx(pipe_, &ov);
            timedOut = true;
        }
        // After a cancel the operation may still have finished with data;
        // whatever it moved counts.
        if (!GetOverlappedResult(pipe_, &ov, &done, TRUE)) {
            const DWORD error = GetLastError();
            return error == ERROR_OPERATION_ABORTED ? ReadResult::kTimedOut : Broken(error);
        }
        return done == 0 && timedOut ? ReadResult::kTimedOut : ReadResult::kReply;
    }

    static ReadResult Broken(DWORD error) {
        return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
                       error == ERROR_PIPE_NOT_CONNECTED
                   ? ReadResult::kClosed
                   : ReadResult::kFailed;
    }

    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
};

#else  // POSIX: the pipe is a Unix stream socket in the service's run folder.

std::string DefaultEndpoint() {
    const char* dir = std::getenv("VTSERVICE_RUN_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/run/vtservice") +
           "/twvtservicepipe";
}

std::string EndpointName(const std::string& given) {
    return given;
}

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Waits until `fd` is ready for `events` or `timeoutMs` has passed, across
// signals. True when ready (or in error, which the next call reports).
bool WaitFor(int fd, short events, uint32_t timeoutMs) {
    const uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        const uint64_t now = NowMs();
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, now >= deadline ? 0 : static_cast<int>(deadline - now));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

class Connection {
  public:
    ~Connection() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    std::string Open(const std::string& endpoint) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (endpoint.size() >= sizeof address.sun_path) {
            return "path too long";
        }
        std::memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return std::strerror(errno);
        }
        return "";
    }

    bool Send(const std::string& bytes, uint32_t timeoutMs) {
        size_t done = 0;
        while (done < bytes.size()) {
            if (!WaitFor(fd_, POLLOUT, timeoutMs)) {
                return false;
            }
            // No SIGPIPE: a service that left is a failed send, reported as such.
            const ssize_t n =
                send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    ReadResult Receive(char* buffer, size_t size, uint32_t timeoutMs, size_t& got) {
        got = 0;
        if (!WaitFor(fd_, POLLIN, timeoutMs)) {
            return ReadResult::kTimedOut;
        }
        for (;;) {
            const ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
            if (n > 0) {
                got = static_cast<size_t>(n);
                return ReadResult::kReply;
            }
            if (n == 0) {
                return ReadResult::kClosed;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                return ReadResult::kTimedOut;
            }
            return errno == ECONNRESET ? ReadResult::kClosed : ReadResult::kFailed;
        }
    }

  private:
    int fd_ = -1;
};

#endif

// One reply: the first read waits up to `timeoutMs`, then bytes are taken
// as long as more keep arriving within the quiet period. `closed` reports a
// connection that ended after the reply, so the next request knows.
ReadResult ReadReply(Connection& connection, uint32_t timeoutMs, std::string& reply, bool& closed) {
    reply.clear();
    char buffer[4096];
    for (;;) {
#ifdef _WIN32
        DWORD got = 0;
#else
        size_t got = 0;
#endif
        const ReadResult r =
            connection.Receive(buffer, sizeof buffer, reply.empty() ? timeoutMs : kQuietMs, got);
        if (r == ReadResult::kReply) {
            reply.append(buffer, got);
            continue;
        }
        if (reply.empty()) {
            return r;
        }
        closed = r == ReadResult::kClosed || r == ReadResult::kFailed;
        return ReadResult::kReply;
    }
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// C-style escapes to bytes: \xNN, \n, \r, \t, \0, \\. False on a malformed
// escape, so a typo never goes out as something else.
bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case '\\':
                out += '\\';
                break;
            case 'x': {
                if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) {
                    return false;
                }
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

void PrintLine(const std::string& reply, bool hex) {
    if (hex) {
        for (size_t i = 0; i < reply.size(); ++i) {
            std::printf("%s%02x", i == 0 ? "" : " ", static_cast<unsigned char>(reply[i]));
        }
    } else {
        std::fwrite(reply.data(), 1, reply.size(), stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The doctor asks the pipe over one connection, opened at the first
// question; once it fails, every later question gets no answer.
int Doctor(const std::string& endpoint, uint32_t timeoutMs) {
    Connection connection;
    bool opened = false;
    bool broken = false;
    const vtctl::AskPipe ask = [&](const std::string& request) -> std::optional<std::string> {
        if (!opened) {
            opened = true;
            broken = !connection.Open(endpoint).empty();
        }
        std::string reply;
        bool closed = false;
        if (broken || !connection.Send(request, timeoutMs) ||
            ReadReply(connection, timeoutMs, reply, closed) != ReadResult::kReply) {
            broken = true;
            return std::nullopt;
        }
        broken = closed;
        return reply;
    };
    return vtctl::RunDoctor(ask, stdout);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: vtctl [--pipe PATH] [--raw] [--hex] [--timeout MS] REQUEST...\n"
                 "       vtctl [--pipe PATH] [--timeout MS] doctor\n"
                 "  sends each REQUEST on one connection and prints each reply on a line;\n"
                 "  doctor checks the installation and the running service instead\n"
                 "  --pipe PATH    the service's pipe (default %s)\n"
                 "  --raw          REQUESTs use C escapes (\\xNN \\n \\r \\t \\0 \\\\)\n"
                 "  --hex          print replies as hex bytes\n"
                 "  --timeout MS   how long to wait for a reply to start (default %u)\n",
#ifdef _WIN32
                 kDefaultEndpoint,
#else
                 "$VTSERVICE_RUN_DIR/twvtservicepipe, run folder /run/vtservice",
#endif
                 static_cast<unsigned>(kDefaultTimeoutMs));
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Replies are printed byte for byte; only the line ends are ours.
    _setmode(_fileno(stdout), _O_BINARY);
    std::string endpoint = kDefaultEndpoint;
#else
    std::string endpoint = DefaultEndpoint();
#endif
    bool raw = false;
    bool hex = false;
    uint32_t timeoutMs = kDefaultTimeoutMs;
    std::vector<std::string> requests;
    bool literal = false;  // after "--": every word is a request
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pipe" && i + 1 < argc) {
            endpoint = EndpointName(argv[++i]);
        } else if (arg == "--timeout" && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long ms = std::strtoul(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || ms == 0 || ms > 600000) {
                return Usage();
            }
            timeoutMs = static_cast<uint32_t>(ms);
        } else if (arg == "--raw") {
            raw = true;
        } else if (arg == "--hex") {
            hex = true;
        } else if (arg == "--") {
            literal = true;
            requests.insert(requests.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.rfind("--", 0) == 0 || arg == "-h") {
            return Usage();
        } else {
            requests.push_back(arg);
        }
    }
    if (requests.empty()) {
        return Usage();
    }
    if (!literal && requests.size() == 1 && requests[0] == "doctor") {
        return Doctor(endpoint, timeoutMs);
    }
    if (raw) {
        for (std::string& r : requests) {
            std::string bytes;
            if (!Unescape(r, bytes)) {
                std::fprintf(stderr, "vtctl: bad escape in request: %s\n", r.c_str());
                return 3;
            }
            r = bytes;
        }
    }

    Connection connection;
    if (const std::string why = connection.Open(endpoint); !why.empty()) {
        std::fprintf(stderr, "vtctl: cannot reach the service at %s: %s\n", endpoint.c_str(),
                     why.c_str());
        return 2;
    }
    bool closed = false;
    for (size_t i = 0; i < requests.size(); ++i) {
        std::string reply;
        if (closed || !connection.Send(requests[i], timeoutMs)) {
            std::fprintf(stderr,
                         "vtctl: request %zu could not be sent (the connection dropped or the "
                         "service stopped reading)\n",
                         i + 1);
            return 1;
        }
        switch (ReadReply(connection, timeoutMs, reply, closed)) {
            case ReadResult::kReply:
                PrintLine(reply, hex);
                break;
            case ReadResult::kTimedOut:
                std::fprintf(stderr, "vtctl: no reply to request %zu within %u ms\n", i + 1,
                             static_cast<unsigned>(timeoutMs));
                return 1;
            case ReadResult::kClosed:
            case ReadResult::kFailed:
                std::fprintf(stderr,
                             "vtctl: the connection dropped before the reply to request %zu\n",
                             i + 1);
                return 1;
        }
    }
    return 0;
}
