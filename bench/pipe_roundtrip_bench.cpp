// What the service's request handling costs on top of the transport: the
// round trip (write a request, read the whole reply) through the real pipe
// server stack, against a bare echo server on the same kind of socket,
// created by the same call, in the same run.
//
// The service side is the daemon's own: PipeServer, PipeCommands and the
// JSON device commands on the real Linux platform (socket endpoint served
// with poll, event log), with the device simulator loaded from beside the
// program as the service loads its device library and a KB709 attached. The
// JSON request must be answered "TW_OK" and reach the keyboard, which the
// simulator's call log shows; while timing, that log is switched off, so the
// figure is the service's path and the device call, not the simulator's
// bookkeeping. Event entries go to a file in the temporary run folder rather
// than to syslog, so a benchmark run leaves nothing behind.
//
// The last lines printed are the median round trips and their ratio; with
// --results=FILE each figure is also appended to FILE as one JSON line
// (name, value, unit, goal, pass) for scripts/bench.sh's summary.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "devices/device_layer.h"
#include "pipe/device_commands.h"
#include "pipe/pipe_commands.h"
#include "pipe/pipe_server.h"
#include "platform/platform.h"
#include "platform/posix/system_posix.h"

namespace {

using Clock = std::chrono::steady_clock;
using vt::platform::System;

constexpr char kHello[] = "hello";
constexpr char kJson[] = R"({"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}})";
constexpr char kEchoPipeName[] = "\\\\.\\pipe\\vtbench_echo";
// The device the JSON request drives.
constexpr char kScenario[] = R"({"devices": [{"model": "KB709"}]})";
// A request answered within this is well inside what the desktop
// application, which waits for each reply, can notice.
constexpr double kRoundTripGoalUs = 1000;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "vt_pipe_bench: %s\n", what.c_str());
    std::exit(1);
}

// The client end, as the desktop application holds it: one connection,
// request after request.
class Client {
  public:
    explicit Client(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            Die("socket path too long: " + path);
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Die("cannot connect to " + path + ": " + std::strerror(errno));
        }
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(const std::string& request) {
        if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            Die("send failed");
        }
    }

    // Replies have no length: the benchmark learns each reply once (what
    // arrives until 100 ms of quiet) and afterwards reads exactly that many
    // bytes, so no quiet period is ever part of a timed round trip.
    std::string Learn(const std::string& request) {
        Send(request);
        std::string reply;
        char buffer[256];
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, reply.empty() ? 5000 : 100) > 0) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            reply.append(buffer, static_cast<size_t>(n));
        }
        if (reply.empty()) {
            Die("no reply to " + request);
        }
        return reply;
    }

    void RoundTrip(const std::string& request, size_t replySize) {
        Send(request);
        char buffer[256];
        for (size_t got = 0; got < replySize;) {
            const ssize_t n = recv(fd_, buffer, std::min(sizeof buffer, replySize - got), 0);
            if (n <= 0) {
                Die("connection lost");
            }
            got += static_cast<size_t>(n);
        }
    }

  private:
    int fd_ = -1;
};

std::string SocketPath(const char* pipeName) {
    const std::string name = pipeName;
    return vt::platform::posix::RunFolder() + "/" + name.substr(name.find_last_of('\\') + 1);
}

// One request line to the device simulator's control endpoint
// (TWSIM_CONTROL), its reply.
nlohmann::json Simulator(const nlohmann::json& request) {
    const char* path = std::getenv("TWSIM_CONTROL");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path ? path : "");
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Die("cannot reach the device simulator's control endpoint");
    }
    const std::string line = request.dump() + "\n";
    std::string reply;
    char buffer[4096];
    ssize_t n = send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    while (n > 0 && (reply.empty() || reply.back() != '\n') &&
           (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        reply.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    nlohmann::json answer = nlohmann::json::parse(reply, nullptr, false);
    if (!answer.is_object() || answer.value("ok", false) != true) {
        Die("the device simulator refused " + request.dump() + ": " + reply);
    }
    return answer;
}

// The service's pipe thread: PipeServer serving its clients until stopped,
// with the device library loaded and the attached devices created as
// OnStart does.
class ServiceSide {
  public:
    ServiceSide() {
        if (!layer_.Load(sys_.libraries)) {
            Die("the device simulator could not be loaded from beside the program");
        }
        vt::devices::DeviceLayer::SetActive(&layer_);
        layer_.StartLibrary();
        layer_.EnumerateAttached();
        if (layer_.slots.kb709.load() == nullptr) {
            Die("the simulated KB709 was not created");
        }
        if (!server_.Start(*stop_)) {
            Die("the service pipe could not be created");
        }
        thread_ = std::thread([this] {
            while (server_.ServeNext()) {
            }
        });
    }
    ~ServiceSide() {
        stop_->Set();
        thread_.join();
        vt::devices::DeviceLayer::SetActive(nullptr);
    }
    ServiceSide(const ServiceSide&) = delete;
    ServiceSide& operator=(const ServiceSide&) = delete;

  private:
    const vt::platform::Platform& sys_ = System();
    vt::devices::DeviceLayer layer_{sys_.eventLog, sys_.console, sys_.clock};
    vt::pipe::DeviceCommands deviceCommands_{layer_};
    vt::ServiceState state_;
    vt::pipe::PipeCommands commands_{state_, layer_, sys_.clock, sys_.eventLog, &deviceCommands_};
    std::unique_ptr<vt::platform::Event> stop_ = sys_.threads.CreateManualResetEvent();
    vt::pipe::PipeServer server_{sys_.pipes, sys_.eventLog, commands_};
    std::thread thread_;
};

// The same endpoint, created by the same call with the same spec, serving
// each read straight back: the transport alone.
class EchoSide {
  public:
    EchoSide() {
        vt::platform::PipeSpec spec = vt::pipe::ServicePipeSpec();
        spec.name = kEchoPipeName;
        uint32_t error = 0;
        endpoint_ = System().pipes.CreateServer(spec, *stop_, error);
        if (!endpoint_) {
            Die("the echo pipe could not be created (error " + std::to_string(error) + ")");
        }
        thread_ = std::thread([this] {
            using Kind = vt::platform::PipeActivity::Kind;
            char buffer[vt::pipe::kBufferSize];
            for (;;) {
                const vt::platform::PipeActivity a = endpoint_->Wait(buffer);
                if (a.kind == Kind::Stopped) {
                    return;
                }
                if (a.kind == Kind::Request) {
                    endpoint_->Write(a.client, buffer, a.size);
                } else if (a.kind == Kind::Left) {
                    endpoint_->Disconnect(a.client);
                }
            }
        });
    }
    ~EchoSide() {
        stop_->Set();
        thread_.join();
    }
    EchoSide(const EchoSide&) = delete;
    EchoSide& operator=(const EchoSide&) = delete;

  private:
    std::unique_ptr<vt::platform::Event> stop_ = System().threads.CreateManualResetEvent();
    std::unique_ptr<vt::platform::PipeEndpoint> endpoint_;
    std::thread thread_;
};

// Every round trip of the last run of each benchmark, for the medians.
std::map<std::string, std::vector<double>> g_samples;

void RoundTrips(benchmark::State& state, Client* client, std::string request, size_t replySize,
                std::string key) {
    std::vector<double>& samples = g_samples[key];
    samples.clear();
    for (auto _ : state) {
        const auto start = Clock::now();
        client->RoundTrip(request, replySize);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
}

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Figures for the summary: FILE of --results=FILE, or none.
std::string g_resultsPath;

void Result(const std::string& name, const nlohmann::json& value, const std::string& unit,
            const std::string& goal, bool pass) {
    if (g_resultsPath.empty()) {
        return;
    }
    std::FILE* f = std::fopen(g_resultsPath.c_str(), "a");
    if (f == nullptr) {
        Die("cannot write " + g_resultsPath);
    }
    const nlohmann::json line = {
        {"name", name}, {"value", value}, {"unit", unit}, {"goal", goal}, {"pass", pass}};
    std::fprintf(f, "%s\n", line.dump().c_str());
    std::fclose(f);
}

// The JSON request through the device path: "TW_OK", and the one call it
// makes is the KB709's status effect with the type sent.
void CheckJsonReachesTheDevice(Client& client, const std::string& reply) {
    Result("JSON request, reply", reply, "", "TW_OK", reply == "TW_OK");
    if (reply != "TW_OK") {
        Die("the JSON request was answered " + reply);
    }
    Simulator({{"cmd", "clearLog"}});
    client.RoundTrip(kJson, reply.size());
    const nlohmann::json log = Simulator({{"cmd", "log"}})["log"];
    std::string seen;
    for (const auto& entry : log) {
        seen += (seen.empty() ? "" : ", ") + entry.value("model", std::string()) + "." +
                entry.value("call", std::string()) + entry.value("args", nlohmann::json()).dump();
    }
    const bool reached = seen == "KB709.SetSystemStatusEffect[3,0]";
    std::printf("JSON request: reply %s; the device library saw: %s\n", reply.c_str(),
                seen.c_str());
    Result("JSON request, calls reaching the device", seen, "", "KB709.SetSystemStatusEffect[3,0]",
           reached);
    if (!reached) {
        Die("the JSON request did not reach the KB709 as sent");
    }
    // The log is the simulator's, not the service's path: off while timing.
    Simulator({{"cmd", "callLog"}, {"on", false}});
}

// Takes --results=FILE out of the arguments Google Benchmark sees.
void TakeResultsArgument(int& argc, char** argv) {
    constexpr std::string_view kFlag = "--results=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kFlag.size()) == kFlag) {
            g_resultsPath = arg.substr(kFlag.size());
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
}

}  // namespace

int main(int argc, char** argv) {
    TakeResultsArgument(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    char folder[] = "/tmp/vtbench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        Die("cannot make a temporary run folder");
    }
    setenv("VTSERVICE_RUN_DIR", folder, 1);
    setenv("VTSERVICE_EVENTLOG_FILE", (std::string(folder) + "/events.tsv").c_str(), 1);
    const std::string scenario = std::string(folder) + "/scenario.json";
    if (std::FILE* f = std::fopen(scenario.c_str(), "w")) {
        std::fputs(kScenario, f);
        std::fclose(f);
    } else {
        Die("cannot write " + scenario);
    }
    setenv("TWSIM_SCENARIO", scenario.c_str(), 1);
    setenv("TWSIM_CONTROL", (std::string(folder) + "/twsim.sock").c_str(), 1);

    struct Case {
        const char* label;
        std::string request;
    };
    const Case cases[] = {{"hello", kHello}, {"json", kJson}};
    {
        ServiceSide service;
        EchoSide echo;
        // Destroyed before the servers, so each sees its client leave.
        Client serviceClient(SocketPath(vt::pipe::kPipeName));
        Client echoClient(SocketPath(kEchoPipeName));
        for (const Case& c : cases) {
            const std::string reply = serviceClient.Learn(c.request);
            if (echoClient.Learn(c.request) != c.request) {
                Die("the echo server did not echo");
            }
            if (c.request == kJson) {
                CheckJsonReachesTheDevice(serviceClient, reply);
            }
            const std::string serviceKey = "service/" + std::string(c.label);
            const std::string echoKey = "echo/" + std::string(c.label);
            benchmark::RegisterBenchmark(serviceKey.c_str(), RoundTrips, &serviceClient, c.request,
                                         reply.size(), serviceKey)
                ->UseRealTime();
            benchmark::RegisterBenchmark(echoKey.c_str(), RoundTrips, &echoClient, c.request,
                                         c.request.size(), echoKey)
                ->UseRealTime();
        }
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }

    std::printf("\nmedian round trip (write request, read whole reply):\n");
    for (const Case& c : cases) {
        const double service = Median(g_samples["service/" + std::string(c.label)]);
        const double bare = Median(g_samples["echo/" + std::string(c.label)]);
        if (service == 0 || bare == 0) {
            continue;  // filtered out on the command line
        }
        std::printf("  %-6s service %.2f us, echo %.2f us, ratio service/echo %.2f\n", c.label,
                    service, bare, service / bare);
        char value[32];
        std::snprintf(value, sizeof value, "%.1f", service);
        Result(std::string("median round trip, ") + c.label + " (echo " +
                   std::to_string(static_cast<int>(bare + 0.5)) + " us)",
               value, "us", "< " + std::to_string(static_cast<int>(kRoundTripGoalUs)) + " us",
               service < kRoundTripGoalUs);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
