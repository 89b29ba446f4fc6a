// The device library stand-in, loaded the way the service loads it (dlopen,
// exports by name) and steered through its control socket. Every test
// installs its own scenario with the "load" request; the library itself is
// loaded once per process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>

#include "devices/twlink.h"
#include "devices/twlink_loader.h"

namespace twsim::test {
namespace {

namespace dev = vt::devices;
namespace fs = std::filesystem;
using json = nlohmann::json;

struct Library {
    dev::TwLinkApi api;
    fs::path dir;  // scenario, control socket, frames
    std::string control;
};

// The library as the service opens it; its own resolver takes the exports.
struct Opened final : vt::platform::DynamicLibrary {
    void* handle = dlopen(TWLINK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    void* Symbol(const char* name) override { return dlsym(handle, name); }
    void Unload() override {}
};

std::vector<dev::DevInfoRecord> List(const dev::TwLinkApi& api) {
    std::vector<dev::DevInfoRecord> records(dev::kDevInfoCapacity);
    records.resize(size_t(api.devInfo(records.data())));
    return records;
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

const Library& Lib() {
    static const Library* lib = [] {
        auto* l = new Library;
        char tmpl[] = "/tmp/twlink-test.XXXXXX";
        l->dir = mkdtemp(tmpl);
        l->control = (l->dir / "control.sock").string();
        setenv("TWSIM_CONTROL", l->control.c_str(), 1);
        setenv("TWSIM_SCENARIO", (l->dir / "scenario.json").c_str(), 1);
        unsetenv("TWSIM_FRAME_DIR");
        WriteText(l->dir / "scenario.json",
                  R"({"devices":[{"model":"KB505","path":"start-kb505"},{"model":"HV210"}]})");
        Opened library;
        std::string missing;
        const auto api = library.handle ? dev::ResolveTwLink(library, missing) : std::nullopt;
        if (!api) {
            std::fprintf(stderr, "%s: %s\n", TWLINK_LIBRARY,
                         library.handle ? ("lacks " + missing).c_str() : dlerror());
            std::abort();
        }
        l->api = *api;
        l->api.twlink_init();
        return l;
    }();
    return *lib;
}

class Cleanup : public ::testing::Environment {
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(Lib().dir, ignored);
    }
};
const auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new Cleanup);

// One control connection. Reads time out after 10 s, so a fault shows as a
// failure and not as a hung test.
class Client {
  public:
    explicit Client(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        timeval timeout{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Client() { close(fd_); }
    bool connected() const { return connected_; }

    void SendRaw(const std::string& text) {
        ASSERT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }
    // The next reply line, or "" when the connection ended.
    std::string ReadLine() {
        size_t nl;
        while ((nl = pending_.find('\n')) == std::string::npos) {
            char chunk[4096];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return "";
            }
            pending_.append(chunk, size_t(n));
        }
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return line;
    }
    json Send(const json& request) {
        SendRaw(request.dump() + "\n");
        return json::parse(ReadLine());
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    std::string pending_;
};

const json kScenario = R"({"devices": [
    {"model": "KB709", "path": "kb709-path"},
    {"model": "RX420", "path": "rx420-path", "state": {"effectMode": 216}},
    {"model": "LQ120", "path": "lq120-path", "displayMode": 3, "saverEnabled": true},
    {"model": "CS900", "path": "cs900-path", "panelMode": 7,
     "panelCycle": {"count": 2, "modes": [7, 14, 255, 255, 255]},
     "hostReplies": {"GetVersion": "1.2.3-beta"}},
    {"model": "RX410", "path": "rx410-path", "info": [1, 2, 3, 4, 5, 6, 7, 8], "apm": 3},
    {"model": "HV230", "path": "hv230-path"}],
    "systemValue": 42})"_json;

class TwLink : public ::testing::Test {
  protected:
    TwLink() : api(Lib().api), client(Lib().control) {}
    void SetUp() override {
        ASSERT_TRUE(client.connected());
        Ok({{"cmd", "load"}, {"scenario", kScenario}});
        api.registerDevNotify(nullptr);
    }
    // A request that must succeed.
    json Ok(const json& request) {
        json reply = client.Send(request);
        EXPECT_EQ(reply["ok"], true) << request << " -> " << reply;
        return reply;
    }
    std::string Error(const json& request) {
        json reply = client.Send(request);
        EXPECT_EQ(reply["ok"], false) << request << " -> " << reply;
        return reply.value("error", "");
    }
    // Log entries of one call, in order.
    std::vector<json> Calls(const std::string& call) {
        std::vector<json> out;
        const json reply = Ok({{"cmd", "log"}});
        for (const json& e : reply["log"]) {
            if (e["call"] == call) {
                out.push_back(e);
            }
        }
        return out;
    }

    const dev::TwLinkApi& api;
    Client client;
};

// ---- scenarios and devInfo

TEST_F(TwLink, DevInfoFillsAtMostFiftyRecords) {
    json many = json::array();
    for (int i = 0; i < 60; ++i) {
        many.push_back({{"model", "HV150"}});
    }
    Ok({{"cmd", "load"}, {"scenario", {{"devices", many}}}});
    std::vector<dev::DevInfoRecord> buffer(dev::kDevInfoCapacity + 1);
    std::memset(&buffer.back(), 0x5A, sizeof buffer.back());
    EXPECT_EQ(api.devInfo(buffer.data()), 50);
    EXPECT_EQ(buffer.back().productId, 0x5A5A);  // the record after the 50th untouched
}

TEST_F(TwLink, BadScenarioFilesLeaveNoDevices) {
    const fs::path file = Lib().dir / "scenario.json";
    for (const char* text : {"{\"devices\": [", "[1, 2]", R"({"devices": [{"model": "NOPE"}]})",
                             R"({"devices": [{"model": "KB709", "effectMode": 300}]})",
                             R"({"devices": [{"model": "RX420", "faultOn": "GetEffectMode"}]})",
                             R"({"devices": [{"model": "RX420", "overflowOn": "GetMode"}]})",
                             R"({"devices": [{"model": "RX420", "blockOn": "GetMode"}]})",
                             R"({"devices": [], "colour": 1})"}) {
        WriteText(file, text);
        EXPECT_NE(Error({{"cmd", "reset"}}).find("no devices"), std::string::npos) << text;
        EXPECT_TRUE(List(api).empty()) << text;
    }
    fs::remove(file);
    EXPECT_EQ(Ok({{"cmd", "reset"}})["devices"], 0);
}

// ---- factories

// A pending failure counting down the device layer's unit tests meet on the
// core in process; here the null arguments the service never passes, an
// export asked for another model's device (the service never asks), and a
// failure set through the endpoint.
TEST_F(TwLink, FactoriesOpenTheirOwnAttachedDevicesAndFailWhenTold) {
    auto* first = api.kb709("kb709-path");
    ASSERT_NE(first, nullptr);
    EXPECT_NE(api.kb709("kb709-path"), first);  // a new object each time
    EXPECT_EQ(api.rx420("kb709-path"), nullptr);
    EXPECT_EQ(api.kb709("no-such-path"), nullptr);
    EXPECT_EQ(api.kb709(nullptr), nullptr);
    dev::DevInfoRecord record{};
    std::strcpy(record.path, "rx410-path");
    EXPECT_NE(api.rx410(&record), nullptr);
    EXPECT_EQ(api.rx410(nullptr), nullptr);
    Ok({{"cmd", "failFactory"}, {"path", "lq120-path"}, {"count", 1}});
    EXPECT_EQ(api.lq120("lq120-path"), nullptr);
    EXPECT_NE(api.lq120("lq120-path"), nullptr);
}

// ---- hot plug

// What the callback saw: the record, whether it ran on another thread than
// the request's, and how many devices the library listed meanwhile.
struct HotPlug {
    std::mutex mu;
    std::vector<std::tuple<dev::DevNotifyRecord, bool, size_t>> seen;
    const dev::TwLinkApi* api = nullptr;
    std::thread::id requester;
} g_hotPlug;

void VT_STDCALL OnHotPlug(dev::DevNotifyRecord record) {
    // Calls straight back into the library, as the service does.
    const size_t listed = List(*g_hotPlug.api).size();
    std::lock_guard<std::mutex> lock(g_hotPlug.mu);
    g_hotPlug.seen.emplace_back(record, std::this_thread::get_id() != g_hotPlug.requester, listed);
}

TEST_F(TwLink, AttachAndDetachNotifyFromALibraryThread) {
    // Nobody to tell yet.
    EXPECT_EQ(Ok({{"cmd", "attach"}, {"device", {{"model", "KB505"}}}})["notified"], false);
    EXPECT_EQ(Ok({{"cmd", "detach"}, {"model", "KB505"}})["notified"], false);
    g_hotPlug.api = &api;
    g_hotPlug.requester = std::this_thread::get_id();
    api.registerDevNotify(OnHotPlug);
    const json attached = Ok({{"cmd", "attach"}, {"device", {{"model", "HV150"}}}});
    const std::string path = attached["path"];
    EXPECT_EQ(attached["notified"], true);
    EXPECT_NE(api.hv150(path.c_str()), nullptr);
    EXPECT_EQ(Ok({{"cmd", "detach"}, {"path", path}})["notified"], true);
    EXPECT_EQ(api.hv150(path.c_str()), nullptr);
    // The replies came after the callback returned.
    std::lock_guard<std::mutex> lock(g_hotPlug.mu);
    ASSERT_EQ(g_hotPlug.seen.size(), 2u);
    const size_t devices = kScenario["devices"].size();
    for (const auto& [code, listed] : {std::pair{1u, devices + 1}, std::pair{0u, devices}}) {
        // Copies: the record is packed, its fields cannot be referenced.
        const auto& [r, elsewhere, listedThen] = g_hotPlug.seen[1 - code];
        EXPECT_EQ(uint32_t{r.eventCode}, code);
        EXPECT_EQ(uint32_t{r.vendorId}, 0x3A7Cu);
        EXPECT_EQ(uint32_t{r.productId}, 0x01C7u);
        EXPECT_EQ(path, r.path);
        EXPECT_TRUE(elsewhere);
        EXPECT_EQ(listedThen, listed);
    }
}

// ---- the log and the library's bounds

// The service's tests read the whole log; a person at twsim reads on from
// a mark.
TEST_F(TwLink, LogListsCallsSinceAMark) {
    auto* rx = api.rx420("rx420-path");
    ASSERT_NE(rx, nullptr);
    rx->SetMusicPulse(1);
    const json mark = Ok({{"cmd", "log"}})["log"].back()["seq"];
    rx->ControlOff();
    const json after = Ok({{"cmd", "log"}, {"since", mark}})["log"];
    ASSERT_EQ(after.size(), 1u) << after;
    EXPECT_EQ(after[0]["call"], "ControlOff");
}

// The service always passes its whole buffer and a known function (its unit
// tests hold the clipping to that size); the smaller sizes are the library's.
TEST_F(TwLink, HostCommandReplyIsBoundedByReplySize) {
    auto* cs = api.cs900("cs900-path");
    ASSERT_NE(cs, nullptr);
    const struct {
        const char* function;
        uint32_t size;
        std::string reply;
    } cases[] = {{"GetVersion", 6, std::string("1.2.3\0##########", 16)},
                 {"GetVersion", 1, std::string("\0###############", 16)},
                 {"GetVersion", 0, std::string(16, '#')},
                 {"Unknown", 16, std::string(16, '#')}};
    for (const auto& c : cases) {
        char reply[16];
        std::memset(reply, '#', sizeof reply);
        cs->HandleHostCommand(c.function, "x", reply, c.size);
        EXPECT_EQ(std::string(reply, sizeof reply), c.reply) << c.function << " " << c.size;
    }
    EXPECT_EQ(Calls("HandleHostCommand").at(0)["args"], json::parse(R"(["GetVersion", "x", 6])"));
}

// ---- callbacks into the service

struct Fired {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> calls;
    void Add(std::string call) {
        std::lock_guard<std::mutex> lock(mu);
        calls.push_back(std::move(call));
        cv.notify_all();
    }
};
// Never destroyed: a reading the library's timer thread was already
// delivering can still arrive while the process exits.
Fired& g_fired = *new Fired;

void VT_STDCALL KeyboardA(int32_t* code) {
    g_fired.Add("A" + std::to_string(*code));
}
void VT_STDCALL KeyboardB(int32_t* code) {
    g_fired.Add("B" + std::to_string(*code));
}
void VT_STDCALL HeadsetKey(int32_t key, int32_t extra) {
    g_fired.Add("key" + std::to_string(key) + "/" + std::to_string(extra));
}
void VT_STDCALL EffectMode(int32_t code) {
    g_fired.Add("effect" + std::to_string(code));
}
void VT_STDCALL SystemInfo(dev::SystemInfoRecord) {
    g_fired.Add("info");
}

TEST_F(TwLink, FireCallsTheNewestObjectsCallback) {
    g_fired.calls.clear();
    api.kb709("kb709-path")->RegisterNotifyCallback(KeyboardA);
    api.kb709("kb709-path")->RegisterNotifyCallback(KeyboardB);
    api.kb709("kb709-path");  // newest, but without a callback
    api.hv230("hv230-path")->RegisterKeyCallback(HeadsetKey);
    api.rx420("rx420-path")->RegisterEffectModeCallback(EffectMode);

    Ok({{"cmd", "fire"}, {"what", "keyboard"}, {"model", "KB709"}, {"code", 1}});
    Ok({{"cmd", "fire"}, {"what", "headset"}, {"path", "hv230-path"}, {"code", 5}, {"extra", 7}});
    Ok({{"cmd", "fire"}, {"what", "rx420"}, {"model", "RX420"}, {"code", 2}});
    EXPECT_EQ(g_fired.calls, (std::vector<std::string>{"B1", "key5/7", "effect2"}));
    Error({{"cmd", "fire"}, {"what", "keyboard"}, {"model", "RX420"}});  // it has another kind
}

// The readings' values reach the service end to end; here the one source
// and its timer, which delivers them on its own when set.
TEST_F(TwLink, OneSystemInformationSourceWhoseTimerDeliversOnItsOwn) {
    dev::SystemInfoSource* source = api.sysInfo();
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(api.sysInfo(), source);                  // one per process
    Error({{"cmd", "fire"}, {"what", "systemInfo"}});  // nothing registered yet
    source->RegisterSystemInfoCallback(SystemInfo);
    g_fired.calls.clear();
    Ok({{"cmd", "setSystem"}, {"systemInfoIntervalMs", 1}});
    std::unique_lock<std::mutex> lock(g_fired.mu);
    EXPECT_TRUE(g_fired.cv.wait_for(lock, std::chrono::seconds(10),
                                    [] { return g_fired.calls.size() >= 3; }));
    lock.unlock();
    Ok({{"cmd", "setSystem"}, {"systemInfoIntervalMs", 0}});
    source->RegisterSystemInfoCallback(nullptr);
}

// ---- the control endpoint

TEST_F(TwLink, MalformedRequestsAreAnsweredAndTheConnectionStays) {
    for (const char* line :
         {"not json", "[1, 2]", R"({"cmd": "nope"})", R"({"nocmd": 1})",
          R"({"cmd": "set", "model": "RX420", "state": {"effectMode": 999}})",
          R"({"cmd": "set", "model": "RX420", "state": {"colour": 1}})",
          R"({"cmd": "attach", "device": {"model": "KB709", "path": "kb709-path"}})",
          R"({"cmd": "attach", "device": {"model": "QT999"}})",  // unknown, no ids
          R"({"cmd": "detach", "path": "no-such-path"})", R"({"cmd": "detach", "model": "KB505"})",
          R"({"cmd": "fire", "what": "lights", "model": "KB709"})"}) {
        client.SendRaw(std::string(line) + "\n");
        const json reply = json::parse(client.ReadLine());
        EXPECT_EQ(reply["ok"], false) << line;
        EXPECT_FALSE(reply.value("error", "").empty()) << line;
    }
    EXPECT_EQ(Ok({{"cmd", "ping"}})["pong"], true);
    const json devices = Ok({{"cmd", "devices"}})["devices"];
    EXPECT_EQ(devices.size(), kScenario["devices"].size());
    EXPECT_EQ(devices[1]["state"]["effectMode"], 216);  // the rejected set changed nothing
}

TEST_F(TwLink, OverlongLineIsRefusedAndTheConnectionClosed) {
    client.SendRaw(std::string(70000, 'x'));
    const json reply = json::parse(client.ReadLine());
    EXPECT_EQ(reply["ok"], false);
    EXPECT_EQ(client.ReadLine(), "");  // closed
    Client again(Lib().control);
    EXPECT_EQ(again.Send({{"cmd", "ping"}})["ok"], true);
}

// Runs the twsim tool; returns its exit status, with its output in `out`.
int RunTool(const std::string& args, std::string& out) {
    const fs::path file = Lib().dir / "tool.out";
    const int status = std::system(
        (std::string(TWSIM_TOOL) + " " + args + " >" + file.string() + " 2>&1").c_str());
    std::ifstream in(file);
    out.assign(std::istreambuf_iterator<char>(in), {});
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TwLink, ToolSendsRequestsAndReportsAnUnreachableEndpoint) {
    std::string out;
    EXPECT_EQ(RunTool("--endpoint " + Lib().control +
                          R"( '{"cmd":"ping"}' '{"cmd":"set","model":"RX420","state":{"apm":1}}')",
                      out),
              0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_EQ(json::parse(out.substr(0, out.find('\n')))["pid"], getpid());
    EXPECT_EQ(RunTool("--endpoint " + Lib().control + R"( '{"cmd":"bogus"}')", out), 1);
    EXPECT_EQ(RunTool("--endpoint " + (Lib().dir / "nobody.sock").string() + " '{}'", out), 2);
    EXPECT_NE(out.find("cannot reach the control endpoint"), std::string::npos) << out;
}

// ---- frames and faults

void CrashThroughTheLibrary(dev::RX420Device* rx) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    uint8_t mode;
    rx->GetEffectMode(&mode);
}

TEST_F(TwLink, ArmedFaultsAreARealAccessViolationAndARealStackOverflow) {
    auto* rx = api.rx420("rx420-path");
    ASSERT_NE(rx, nullptr);
    GTEST_FLAG_SET(death_test_style, "fast");
    for (const char* kind : {"faultOn", "overflowOn"}) {
        Ok({{"cmd", "set"}, {"model", "RX420"}, {"state", {{kind, "GetEffectMode"}}}});
        rx->SetMusicPulse(1);  // other operations still work
#ifdef __SANITIZE_ADDRESS__
        EXPECT_DEATH(CrashThroughTheLibrary(rx),
                     kind == std::string("faultOn") ? "SEGV" : "stack-overflow")
            << kind;
#else
        EXPECT_EXIT(CrashThroughTheLibrary(rx), ::testing::KilledBySignal(SIGSEGV), "") << kind;
#endif
        Ok({{"cmd", "set"}, {"model", "RX420"}, {"state", {{kind, nullptr}}}});
    }
    uint8_t mode = 0;
    rx->GetEffectMode(&mode);
    EXPECT_EQ(mode, 216);
}

// Released through the control endpoint while the operation is inside the
// library: it blocks without the simulator's lock.
TEST_F(TwLink, ABlockedOperationReturnsOnlyOnceReleased) {
    auto* rx = api.rx420("rx420-path");
    ASSERT_NE(rx, nullptr);
    Ok({{"cmd", "set"}, {"model", "RX420"}, {"state", {{"blockOn", "GetEffectMode"}}}});
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        uint8_t mode;
        rx->GetEffectMode(&mode);
        returned = true;
    });
    while (Calls("GetEffectMode").empty()) {
        std::this_thread::yield();
    }
    rx->SetMusicPulse(1);  // other operations still work
    EXPECT_FALSE(returned);
    Ok({{"cmd", "set"}, {"model", "RX420"}, {"state", {{"blockOn", nullptr}}}});
    caller.join();
    EXPECT_TRUE(returned);
}

}  // namespace
}  // namespace twsim::test
