// Fuzzing the OLED job over its job file. One input is the whole file; the
// job starts, finds a mouse, loads the file and paints one cycle of the
// mouse's profile with the converter stand-in. Everything stays in memory,
// the file and the scratch bitmap alike, so an input costs no file.
//
// Besides crashes, sanitizer reports and hangs, the harness stops when the
// mouse receives something it could not take: a pixel byte other than 0 or
// 1, a frame id other than 0xF1, an upload not followed by selecting it, or
// more uploads than the cycle has entries. A cycle whose waits would take
// more than a few thousand sleeps is cut off by the clock.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap.h"
#include "devices/device_layer.h"
#include "fakes/fake_console.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_folders.h"
#include "oled/oled_job.h"
#include "preview.h"

namespace vt::oled {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "oled fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

struct OutOfTime {};

// Virtual time with a budget: a wait of years ends the input, not the run.
class BudgetClock final : public platform::Clock {
  public:
    uint32_t TickCount() override { return static_cast<uint32_t>(now_); }
    uint64_t TickCount64() override { return now_; }
    void Sleep(uint32_t milliseconds) override {
        now_ += milliseconds;
        if (++sleeps_ > 5000) {
            throw OutOfTime{};
        }
    }
    uint64_t LocalTimeMs() override { return now_; }

  private:
    uint64_t now_ = 0;
    int sleeps_ = 0;
};

// The converter stand-in's drawing and bitmap coding, with its scratch
// bitmap kept in memory: the job hands it a path as it would to the real
// converter, but no input ever touches the disk for it.
class MemoryConverter final : public OledConverter {
  public:
    int32_t InitConverter(int32_t) override { return 1; }
    int32_t TextToBitmap(const char* text, const char* bitmapPath, int32_t layout) override {
        files_[bitmapPath] = oledconvert::EncodeBmp(oledconvert::DrawText(text, layout));
        return 1;
    }
    int32_t Reserved() override { return 0; }
    int32_t BitmapToFrame(const char* bitmapPath, uint8_t* pixels) override {
        oledconvert::Pixels read{};
        const bool ok = oledconvert::DecodeBmp(files_[bitmapPath], read);
        std::memcpy(pixels, read.data(), read.size());
        return ok ? 1 : 0;
    }

  private:
    std::map<std::string, std::string> files_;
};

extern "C" OledConverter* VT_CDECL StandInFactory() {
    static MemoryConverter converter;
    return &converter;
}

// The job file is the input itself, never written anywhere, and parsed
// once: the job reads it twice (at start and once it found the mouse), and
// parsing was most of the time an input took.
class MemoryJobFile final : public JobFileSource {
  public:
    explicit MemoryJobFile(std::string_view text) : result_(ParseJobFile(text, parsed_)) {}
    JobFileRead Read(Json& config) override {
        if (result_ == JobFileRead::Loaded) {
            config = parsed_;
        }
        return result_;
    }
    const Json& parsed() const { return parsed_; }

  private:
    Json parsed_;
    const JobFileRead result_;
};

void CheckMouse(const oledrender::PreviewMouse& mouse, const Json& config, int32_t profile) {
    size_t uploads = 0;
    const std::vector<std::string> calls = mouse.Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& call = calls[i];
        if (call.rfind("SetOled(3,", 0) == 0 && call != "SetOled(3,241)") {
            Fail("frame id", call);
        }
        if (call == "SetOled(3,241)") {
            ++uploads;
            if (i + 1 >= calls.size() || calls[i + 1] != "SetOled(0,241)") {
                Fail("an upload was not selected", std::to_string(i));
            }
        }
    }
    for (const auto& frame : mouse.frames) {
        for (uint8_t p : frame) {
            if (p > 1) {
                Fail("pixel byte", std::to_string(p));
            }
        }
    }
    if (uploads > ProfileView(config, profile).CycleCount()) {
        Fail("more uploads than entries", std::to_string(uploads));
    }
}

}  // namespace
}  // namespace vt::oled

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vt;
    using namespace vt::oled;
    // What does not depend on the input lives for the whole run: building a
    // device layer and a simulated library afresh for every input cost more
    // than the input itself. Calls are kept as lines, all CheckMouse reads.
    static fakes::FakeConsole console;
    static BudgetClock layerClock;
    static fakes::FakeEventLog layerLog;
    static devices::DeviceLayer layer(layerLog, console, layerClock);
    static oledrender::PreviewMouse mouse;
    static const bool attached = [] {
        layer.Attach(twsim::Api());
        layer.rx410Present = 1;
        mouse.twlink.KeepLinesOnly(true);
        return true;
    }();
    (void)attached;
    mouse.state = oledrender::PreviewMouseState();
    // Figures that need care: a stage index past the four, a zero interval,
    // the longest APM count.
    mouse.state.settings[0] = static_cast<uint8_t>(size % 7);
    mouse.state.settings[25] = static_cast<uint8_t>(size % 3);
    mouse.state.apm = -2147483647 - 1;
    mouse.state.profile = static_cast<int32_t>(size % 3);
    mouse.state.logoFlag = 1;

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    MemoryJobFile jobFile(text);
    {
        BudgetClock clock;
        fakes::FakeEventLog log;
        fakes::FakeFolders folders;
        // They name the job file and the scratch bitmap; nothing is written there.
        folders.dataFolder = "fuzz-data";
        folders.serviceFolder = "fuzz-service/";
        oledrender::SymbolLibraries libraries;
        libraries.symbol = kOledDataConvertExport;
        libraries.address = reinterpret_cast<void*>(&StandInFactory);
        ServiceState state;
        state.enabled = 1;
        OledJob job(state, layer, {clock, log, folders, libraries, &jobFile});
        try {
            job.Start();
            state.enabled = 1;  // paint whatever the file says about "enable"
            for (int pass = 0; pass < 4; ++pass) {
                const bool painting = job.state() == OledJob::kPaint;
                job.Pass();
                if (painting) {
                    break;
                }
            }
        } catch (const OutOfTime&) {
        }
    }
    CheckMouse(mouse, jobFile.parsed(), mouse.state.profile);
    // What the library kept for this input goes with it, memory included:
    // whatever an input leaves allocated makes libFuzzer run it again and
    // scan the heap for leaks. The job that opened the mouse object is gone.
    mouse.twlink.ClearLog();
    mouse.twlink.objects.clear();
    std::vector<oledrender::Pixels>().swap(mouse.frames);
    return 0;
}
