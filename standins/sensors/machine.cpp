// The machine's own sensors, read from sysfs and procfs below a root folder
// (tests point it at a fake tree).
#include <algorithm>
#include <fstream>
#include <sstream>

#include "readings.h"
#include "telemetry/cpuidsdk.h"

namespace vtsensors {

namespace fs = std::filesystem;
namespace t = vt::telemetry;

namespace {

std::optional<std::string> ReadText(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

std::optional<double> ReadNumber(const fs::path& path) {
    const std::optional<std::string> text = ReadText(path);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    try {
        return std::stod(*text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The files <prefix>N<suffix> of a folder, by N.
std::vector<std::pair<int, fs::path>> Numbered(const fs::path& dir, const std::string& prefix,
                                               const std::string& suffix) {
    std::vector<std::pair<int, fs::path>> out;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (std::all_of(digits.begin(), digits.end(), ::isdigit)) {
            out.emplace_back(std::stoi(digits), e.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Each <kind>N_input scaled, named by <kind>N_label or "<kind>N".
std::vector<Sensor> Channels(const fs::path& chip, const std::string& kind, int32_t sensorClass,
                             double scale) {
    std::vector<Sensor> out;
    for (const auto& [n, path] : Numbered(chip, kind, "_input")) {
        const std::optional<double> value = ReadNumber(path);
        if (!value) {
            continue;
        }
        const std::string label = ReadText(chip / (kind + std::to_string(n) + "_label"))
                                      .value_or(kind + std::to_string(n));
        out.push_back({sensorClass, label, static_cast<float>(*value * scale)});
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

void Append(std::vector<Sensor>& to, const std::vector<Sensor>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

std::optional<Readings> ReadMachine(const fs::path& root, CpuTimes& previous) {
    Device cpu{t::kClassProcessor, {}};
    Device gpu{t::kClassDisplayAdapter, {}};
    Device board{t::kClassMainboard, {}};
    std::vector<int32_t> coreTemps, gpuTemps;

    for (const auto& [n, chip] : Numbered(root / "sys/class/hwmon", "hwmon", "")) {
        const std::string name = ReadText(chip / "name").value_or("");
        const std::vector<Sensor> temps = Channels(chip, "temp", t::kSensorTemperature, 0.001);
        if (name == "coretemp" || name == "k10temp") {
            Append(cpu.sensors, temps);
            // Per core (Intel "Core N") or per die (AMD "TccdN"); a chip
            // with neither gives what it has.
            std::vector<int32_t> cores;
            for (const Sensor& s : temps) {
                if (StartsWith(s.name, "Core") || StartsWith(s.name, "Tccd")) {
                    cores.push_back(static_cast<int32_t>(s.value));
                }
            }
            if (cores.empty()) {
                for (const Sensor& s : temps) {
                    cores.push_back(static_cast<int32_t>(s.value));
                }
            }
            coreTemps.insert(coreTemps.end(), cores.begin(), cores.end());
        } else if (name == "amdgpu" || name == "nouveau" || name == "radeon") {
            Append(gpu.sensors, temps);
            if (!temps.empty()) {
                gpuTemps.push_back(static_cast<int32_t>(temps.front().value));
            }
            Append(gpu.sensors, Channels(chip, "fan", t::kSensorFan, 1.0));
            Append(gpu.sensors, Channels(chip, "freq", t::kSensorClock, 1e-6));   // Hz
            Append(gpu.sensors, Channels(chip, "in", t::kSensorVoltage, 0.001));  // mV
            if (std::optional<double> busy = ReadNumber(chip / "device/gpu_busy_percent")) {
                gpu.sensors.push_back({t::kSensorUtilisation, "GPU", static_cast<float>(*busy)});
            }
        } else {
            Append(board.sensors, Channels(chip, "fan", t::kSensorFan, 1.0));
        }
    }
    if (coreTemps.empty() && gpuTemps.empty()) {
        return std::nullopt;
    }

    for (const auto& [n, dir] : Numbered(root / "sys/devices/system/cpu", "cpu", "")) {
        if (std::optional<double> khz = ReadNumber(dir / "cpufreq/scaling_cur_freq")) {
            cpu.sensors.push_back(
                {t::kSensorClock, "Core #" + std::to_string(n), static_cast<float>(*khz / 1000)});
        }
    }
    if (std::optional<std::string> stat = ReadText(root / "proc/stat")) {
        if (std::optional<CpuTimes> now = ParseProcStat(*stat)) {
            cpu.sensors.push_back(
                {t::kSensorUtilisation, "CPU Total", Utilisation(previous, *now)});
            previous = *now;
        }
    }

    Readings r;
    r.devices.push_back(std::move(cpu));
    if (!gpu.sensors.empty()) {
        r.devices.push_back(std::move(gpu));
    }
    if (!board.sensors.empty()) {
        r.devices.push_back(std::move(board));
    }
    r.cpu = {true, static_cast<int32_t>(coreTemps.size()), coreTemps};
    r.gpu = {true, static_cast<int32_t>(gpuTemps.size()), gpuTemps};
    return r;
}

}  // namespace vtsensors
