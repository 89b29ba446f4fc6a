#include "readings.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "telemetry/cpuidsdk.h"

namespace vtsensors {

using nlohmann::json;
namespace t = vt::telemetry;

namespace {

// How often a stalled reading looks whether its file still says so.
constexpr int kStallLookMs = 50;

const std::map<std::string, int32_t> kDeviceClasses = {
    {"processor", t::kClassProcessor},
    {"drive", t::kClassDrive},
    {"display", t::kClassDisplayAdapter},
    {"battery", t::kClassBattery},
    {"mainboard", t::kClassMainboard},
    {"memory", t::kClassMemoryModule},
    {"psu", t::kClassPsu},
    {"watercooler", t::kClassWatercooler},
};

const std::map<std::string, int32_t> kSensorClasses = {
    {"voltage", t::kSensorVoltage}, {"temperature", t::kSensorTemperature},
    {"fan", t::kSensorFan},         {"utilisation", t::kSensorUtilisation},
    {"clock", t::kSensorClock},
};

// A class by name or by its code.
int32_t ClassOf(const json& value, const std::map<std::string, int32_t>& names) {
    if (value.is_number_integer()) {
        return value.get<int32_t>();
    }
    auto it = names.find(value.get<std::string>());
    if (it == names.end()) {
        throw std::invalid_argument("unknown class " + value.get<std::string>());
    }
    return it->second;
}

// [v, ...] delivers those values; {"count": n, "values": [...]} a count
// of its own; null or false answers false.
TemperatureList TemperaturesOf(const json& value) {
    TemperatureList list;
    if (value.is_null() || value == false) {
        return list;
    }
    const json& values = value.is_object() ? value.at("values") : value;
    list.values = values.get<std::vector<int32_t>>();
    list.count = value.is_object() && value.contains("count")
                     ? value.at("count").get<int32_t>()
                     : static_cast<int32_t>(list.values.size());
    list.delivered = true;
    return list;
}

}  // namespace

Readings ParseReadings(const std::string& text, std::string& error) {
    Readings r;
    try {
        const json doc = json::parse(text);
        if (doc.contains("sdk")) {
            const json& sdk = doc.at("sdk");
            r.startStatus = sdk.value("status", 0);
            r.startDetail = sdk.value("detail", 0);
            r.startSucceeds = sdk.value("started", true);
        }
        for (const json& d : doc.value("devices", json::array())) {
            Device device{ClassOf(d.at("class"), kDeviceClasses), {}};
            for (const json& s : d.value("sensors", json::array())) {
                device.sensors.push_back({ClassOf(s.at("class"), kSensorClasses),
                                          s.value("name", std::string()),
                                          s.at("value").get<float>()});
            }
            r.devices.push_back(std::move(device));
        }
        r.cpu = TemperaturesOf(doc.value("cpuTemps", json()));
        r.gpu = TemperaturesOf(doc.value("gpuTemps", json()));
        r.takeMs = doc.value("takeMs", 0);
        r.stall = doc.value("stall", false);
    } catch (const std::exception& e) {
        error = e.what();
        return {};
    }
    return r;
}

Readings LoadReadingsFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    Readings r = ParseReadings(text.str(), error);
    if (!error.empty()) {
        std::fprintf(stderr, "sensor readings %s: %s\n", path.string().c_str(), error.c_str());
    }
    return r;
}

std::optional<CpuTimes> ParseProcStat(const std::string& text) {
    std::istringstream in(text);
    std::string label;
    if (!(in >> label) || label != "cpu") {
        return std::nullopt;
    }
    // user nice system idle iowait irq softirq steal
    uint64_t v[8] = {};
    int n = 0;
    while (n < 8 && in >> v[n]) {
        ++n;
    }
    if (n < 4) {
        return std::nullopt;
    }
    CpuTimes t;
    for (int i = 0; i < n; ++i) {
        t.total += v[i];
    }
    t.busy = t.total - v[3] - (n > 4 ? v[4] : 0);
    return t;
}

float Utilisation(const CpuTimes& before, const CpuTimes& now) {
    if (now.total <= before.total || now.busy < before.busy) {
        return 0.0f;
    }
    return 100.0f * static_cast<float>(now.busy - before.busy) /
           static_cast<float>(now.total - before.total);
}

Readings CurrentReadings(const std::filesystem::path& libraryFolder, CpuTimes& previous) {
    if (std::optional<std::filesystem::path> file = EnvPath("VTSENSORS_FILE")) {
        return LoadReadingsFile(*file);
    }
    if (HasMachineSensors()) {
        if (std::optional<Readings> machine = ReadMachine("/", previous)) {
            return *machine;
        }
    }
    return LoadReadingsFile(libraryFolder / "sensors.json");
}

void ServeCurrentReadings() {
    SensorState& state = State();
    state.recordCalls = false;
    state.source = [] {
        // Utilisation is measured between this library's own samples.
        static CpuTimes previous;
        Readings r = CurrentReadings(ModuleFolder(), previous);
        std::this_thread::sleep_for(std::chrono::milliseconds(r.takeMs));
        while (r.stall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kStallLookMs));
            r = CurrentReadings(ModuleFolder(), previous);
        }
        return r;
    };
}

}  // namespace vtsensors
