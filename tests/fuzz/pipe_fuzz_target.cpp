// Fuzzing the pipe's request handling. One input is everything one client
// writes on one connection, cut into requests the way the server reads it:
// at most 127 bytes per read, the text ending at the first zero byte. One
// PipeCommands instance serves the whole input, so sequences such as
// fake_temp, fake_step, temp are reached.
//
// Besides crashes, sanitizer reports and hangs, the harness stops on a reply
// the desktop application could not take: an empty one (the server would
// write nothing and the client would wait forever), a keyword refused, an
// unrecognised request not answered "TW_FAIL", or a status or temperature
// that contradicts the requests before it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "devices/device_layer.h"
#include "fakes/fake_platform.h"
#include "pipe/device_commands.h"
#include "pipe/json_read.h"
#include "pipe/pipe_commands.h"
#include "pipe/pipe_server.h"

namespace vt::pipe {
namespace {

[[noreturn]] void Fail(const char* what, std::string_view request, const std::string& reply) {
    std::fprintf(stderr, "pipe fuzz: %s\n  request (%zu bytes): %.*s\n  reply: %s\n", what,
                 request.size(), static_cast<int>(request.size()), request.data(), reply.c_str());
    std::abort();
}

// The number readers must agree with each other: they read the same number
// at different widths, so where two of them give a value, the low bits match.
void CheckNumberReaders(const Json* value) {
    const auto i32 = ReadInt32(value);
    const auto u32 = ReadUint32(value);
    const auto u8 = ReadUint8(value);
    if (i32 && (!u8 || *u8 != static_cast<uint8_t>(*i32))) {
        Fail("ReadUint8 disagrees with ReadInt32", value->dump(), std::to_string(*i32));
    }
    if (u32 && (!u8 || *u8 != static_cast<uint8_t>(*u32))) {
        Fail("ReadUint8 disagrees with ReadUint32", value->dump(), std::to_string(*u32));
    }
    if (i32 && u32 && static_cast<uint32_t>(*i32) != *u32) {
        Fail("ReadInt32 and ReadUint32 differ", value->dump(), std::to_string(*i32));
    }
}

// The real device commands, after a check that the number readers agree on
// every field they read, so odd numbers and types (1e300, strings for
// numbers, nested objects) reach both.
class CheckedDeviceCommands final : public JsonCommands {
  public:
    explicit CheckedDeviceCommands(devices::DeviceLayer& layer) : real_(layer) {}
    void Dispatch(const Json& request, std::string& reply) override {
        const Json* param = Member(request, "param");
        for (const char* key : {"type", "duration", "bsave", "mode"}) {
            const Json* field = param != nullptr ? Member(*param, key) : nullptr;
            CheckNumberReaders(field);
        }
        const Json* modes = param != nullptr ? Member(*param, "modes") : nullptr;
        if (modes != nullptr && modes->is_array()) {
            for (size_t i = 0; i < modes->size() && i < 5; ++i) {
                CheckNumberReaders(&(*modes)[i]);
            }
        }
        real_.Dispatch(request, reply);
    }

  private:
    DeviceCommands real_;
};

// What the case panel answers to every host command.
constexpr char kPanelReply[] = "PANEL-1.0";

// What the requests so far imply for the ones that report state.
struct Expected {
    bool enabled = false;
    bool fakeTemperature = false;

    void Check(std::string_view request, const std::string& reply) {
        auto is = [&](std::string_view keyword) {
            return request.substr(0, keyword.size()) == keyword;
        };
        if (reply.empty()) {
            Fail("empty reply", request, reply);
        }
        if (is("enable")) {
            enabled = true;
        } else if (is("disable")) {
            enabled = false;
        } else if (is("status")) {
            if (reply != (enabled ? "on" : "off")) {
                Fail("status contradicts enable/disable", request, reply);
            }
            return;
        } else if (is("version")) {
            if (reply != "0.400000") {
                Fail("version", request, reply);
            }
            return;
        } else if (is("fake_temp")) {
            fakeTemperature = !fakeTemperature;
        } else if (is("temp")) {
            // "CPU;GPU", equal in the fake levels, zero without them.
            const size_t semicolon = reply.find(';');
            if (semicolon == std::string::npos ||
                reply.substr(0, semicolon) != reply.substr(semicolon + 1) ||
                (!fakeTemperature && reply != "0;0")) {
                Fail("temperature", request, reply);
            }
            return;
        } else if (is("getc") || is("getsysinfo")) {
            if (reply.rfind("0;", 0) != 0) {
                Fail("count or system info", request, reply);
            }
            return;
        } else if (!(is("hello") || is("heartbeat") || is("rx420_control_on") ||
                     is("rx420_control_off") || is("fake_step"))) {
            // Not a keyword: a JSON command's verdict, the case panel's
            // answer, or a refusal.
            if (reply == kPanelReply && request.find("cs900") != std::string_view::npos) {
                return;
            }
            if (reply != kReplyOk && reply != kReplyFail) {
                Fail("unrecognised request got neither TW_OK nor TW_FAIL", request, reply);
            }
            // The JSON reader skips a byte-order mark, then white space.
            const std::string_view text =
                request.substr(0, 3) == "\xEF\xBB\xBF" ? request.substr(3) : request;
            const size_t first = text.find_first_not_of(" \t\r\n");
            if (reply == kReplyOk && (first == std::string_view::npos || text[first] != '{')) {
                Fail("text that is no keyword and no object accepted", request, reply);
            }
            return;
        }
        if (reply != kReplyOk) {
            Fail("keyword refused", request, reply);
        }
    }
};

// The fake system with an RX420 in music-pulse mode, a KB709, the cooler and
// the case attached, so the keywords and the JSON commands reach devices. Built once: enumeration
// is by far the dearest part, and the commands only read the device slots. What the commands do
// change (the device library's call log, the event log, the switches, the
// pipe-thread state) is fresh for every input, so a crash replays from its
// input alone.
struct Devices {
    Devices() {
        fp.twlink.Attach({{"model", "RX420"}, {"path", "hid#rx420"}, {"effectMode", 216}});
        fp.twlink.Attach({{"model", "KB709"}, {"path", "hid#kb709"}});
        fp.twlink.Attach({{"model", "LQ120"}, {"path", "hid#lq120"}});
        // The seed corpus's case-panel functions; others leave the reply as it is.
        twsim::json replies;
        for (const char* function : {"setProfile", "x"}) {
            replies[function] = kPanelReply;
        }
        fp.twlink.Attach({{"model", "CS900"}, {"path", "hid#cs900"}, {"hostReplies", replies}});
        devices::DeviceLayer::SetActive(&layer);
        if (!layer.Load(fp.libraries)) {
            Fail("the fake device library did not load", "", "");
        }
        layer.EnumerateAttached();
        if (layer.slots.rx420.load() == nullptr || layer.slots.kb709.load() == nullptr ||
            layer.slots.lq120.load() == nullptr || layer.slots.cs900.load() == nullptr) {
            Fail("a device is missing after enumeration", "", "");
        }
    }

    fakes::FakePlatform fp;
    devices::DeviceLayer layer{fp.eventLog, fp.console, fp.clock};
};

struct Session {
    explicit Session(Devices& devices) : layer(devices.layer), clock(devices.fp.clock) {
        devices.fp.twlink.ClearLog();
        // The cooler's cycle and flags start afresh too.
        layer.cooler.SetCycleActive(false);
        layer.cooler.screenSaveEnabled = 0;
        layer.cooler.SetDisplayCycle(
            devices::DisplayCycleRequest{0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0});
    }

    devices::DeviceLayer& layer;
    fakes::FakeClock& clock;
    fakes::FakeEventLog eventLog;
    vt::ServiceState state;
    CheckedDeviceCommands json{layer};
    PipeCommands commands{state, layer, clock, eventLog, &json};
    Expected expected;
};

}  // namespace
}  // namespace vt::pipe

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vt::pipe;
    static Devices devices;
    Session h(devices);
    const char* bytes = reinterpret_cast<const char*>(data);
    for (size_t offset = 0; offset < size; offset += kReadSize) {
        const size_t read = std::min<size_t>(kReadSize, size - offset);
        const void* zero = std::memchr(bytes + offset, 0, read);
        const size_t length =
            zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - (bytes + offset))
                            : read;
        const std::string_view request(bytes + offset, length);
        h.expected.Check(request, h.commands.Handle(request));
    }
    return 0;
}
