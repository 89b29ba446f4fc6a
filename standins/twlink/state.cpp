// Models, device state and scenarios: JSON in, checked values out.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>

#include "core.h"
#include "devices/model_table.h"

namespace twsim {

namespace {

struct Model {
    std::string_view name;
    uint16_t productId;
    std::string_view factory;
};

// Every model the service drives, with its first product id and the export
// that opens it, and the RX410. A dongle form ("<MODEL>_DONGLE") shares the
// product id and is told apart by "&ISDONGLE" in its path.
std::optional<Model> FindModel(std::string_view name) {
    if (name == "RX410") {
        return Model{name, dev::kRX410ProductId, dev::kRX410Factory};
    }
    for (const dev::ModelRow& row : dev::kModelRows) {
        if (row.facts.productIds[0] != 0 && name == row.facts.name) {
            return Model{name, row.facts.productIds[0], row.factory};
        }
    }
    return std::nullopt;
}
constexpr std::string_view kDongleSuffix = "_DONGLE";

template <size_t N>
std::array<uint8_t, N> Bytes(const json& v, const std::string& what) {
    if (!v.is_array() || v.size() != N) {
        throw Error(what + ": expected an array of " + std::to_string(N) + " bytes");
    }
    std::array<uint8_t, N> out{};
    for (size_t i = 0; i < N; ++i) {
        out[i] = Int<uint8_t>(v[i], what);
    }
    return out;
}

const std::string& Text(const json& v, const std::string& what) {
    if (!v.is_string()) {
        throw Error(what + ": expected a text");
    }
    return v.get_ref<const std::string&>();
}

void CheckObject(const json& v, const std::string& what) {
    if (!v.is_object()) {
        throw Error(what + ": expected an object");
    }
}

std::string DefaultPath(uint16_t vendorId, uint16_t productId, bool dongle, int ordinal) {
    char path[160];
    std::snprintf(path, sizeof path,
                  "\\\\?\\HID#VID_%04X&PID_%04X&MI_02%s#7&%04x%04x&0&%04d"
                  "#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  vendorId, productId, dongle ? "&ISDONGLE" : "", vendorId, productId, ordinal);
    return path;
}

struct SystemInfoField {
    const char* name;
    size_t offset;
};
#define TWSIM_FIELD(f) \
    { #f, offsetof(dev::SystemInfoRecord, f) }
constexpr SystemInfoField kSystemInfoFields[] = {
    TWSIM_FIELD(cpuTemperature), TWSIM_FIELD(cpuLoad),        TWSIM_FIELD(cpuClock),
    TWSIM_FIELD(cpuFan),         TWSIM_FIELD(gpuTemperature), TWSIM_FIELD(gpuLoad),
    TWSIM_FIELD(gpuClock),       TWSIM_FIELD(gpuFan),         TWSIM_FIELD(ramLoad),
    TWSIM_FIELD(ramUsedMb),      TWSIM_FIELD(ramTotalMb),     TWSIM_FIELD(liquidTemperature),
    TWSIM_FIELD(pumpSpeed),      TWSIM_FIELD(diskLoad),       TWSIM_FIELD(netUpKbps),
    TWSIM_FIELD(netDownKbps),
};
#undef TWSIM_FIELD

}  // namespace

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Say(const std::string& text) {
    std::fprintf(stderr, "twsim: %s\n", text.c_str());
}

std::array<uint8_t, dev::kMouseSettingsSize> DefaultMouseSettings() {
    // The mouse as it leaves the factory: four resolution stages (x, y as
    // little-endian words), then the fixed tail the service expects.
    std::array<uint8_t, dev::kMouseSettingsSize> s{};
    s[0] = 1;
    const uint16_t stages[] = {400, 1200, 4000, 12000};
    for (int i = 0; i < 4; ++i) {
        for (int axis = 0; axis < 2; ++axis) {
            s[1 + i * 4 + axis * 2] = stages[i] & 0xFF;
            s[2 + i * 4 + axis * 2] = stages[i] >> 8;
        }
    }
    const uint8_t tail[] = {0x00, 0x00, 0x0A, 0x10, 0x01, 0x06, 0x06, 0x03};
    std::memcpy(&s[21], tail, sizeof tail);
    return s;
}

void ApplyState(const json& fields, DeviceState& st, bool allowFault) {
    CheckObject(fields, "state");
    for (const auto& [key, v] : fields.items()) {
        if (key == "effectMode") {
            st.effectMode = Int<uint8_t>(v, key);
        } else if (key == "displayMode") {
            st.displayMode = Int<uint8_t>(v, key);
        } else if (key == "saverEnabled") {
            st.saverEnabled = v.is_null()      ? std::nullopt
                              : v.is_boolean() ? std::optional<bool>(v.get<bool>())
                                               : std::optional<bool>(Int<uint8_t>(v, key) != 0);
        } else if (key == "panelMode") {
            st.panelMode = Int<uint8_t>(v, key);
        } else if (key == "panelCycle") {
            CheckObject(v, key);
            if (v.contains("count")) {
                st.panelCycle.count = Int<uint8_t>(v["count"], "panelCycle.count");
            }
            if (v.contains("modes")) {
                const auto modes = Bytes<5>(v["modes"], "panelCycle.modes");
                std::memcpy(st.panelCycle.modes, modes.data(), modes.size());
            }
        } else if (key == "pingTarget") {
            st.pingTarget = Int<uint32_t>(v, key);
        } else if (key == "profile") {
            st.profile = Int<int32_t>(v, key);
        } else if (key == "firmwareVersion") {
            st.firmwareVersion = Int<uint32_t>(v, key);
        } else if (key == "settings") {
            st.settings = Bytes<dev::kMouseSettingsSize>(v, key);
        } else if (key == "info") {
            st.info = Bytes<dev::kMouseInfoSize>(v, key);
        } else if (key == "apm") {
            st.apm = Int<int32_t>(v, key);
        } else if (key == "logoFlag") {
            st.logoFlag = Int<int32_t>(v, key);
        } else if (key == "hostReplies") {
            CheckObject(v, key);
            st.hostReplies.clear();
            for (const auto& [function, reply] : v.items()) {
                st.hostReplies[function] = Text(reply, "hostReplies." + function);
            }
        } else if (key == "failFactory") {
            st.failFactory = Int<int32_t>(v, key);
        } else if (key == "faultOn" && allowFault) {
            st.faultOn = v.is_null() ? "" : Text(v, key);
        } else if (key == "overflowOn" && allowFault) {
            st.overflowOn = v.is_null() ? "" : Text(v, key);
        } else if (key == "blockOn" && allowFault) {
            st.blockOn = v.is_null() ? "" : Text(v, key);
        } else {
            throw Error("unknown state field: " + key);
        }
    }
}

json StateToJson(const DeviceState& st) {
    return {
        {"effectMode", st.effectMode},
        {"displayMode", st.displayMode},
        {"saverEnabled", st.saverEnabled ? json(*st.saverEnabled) : json()},
        {"panelMode", st.panelMode},
        {"panelCycle",
         {{"count", st.panelCycle.count},
          {"modes", std::vector<uint8_t>(st.panelCycle.modes, st.panelCycle.modes + 5)}}},
        {"pingTarget", st.pingTarget},
        {"profile", st.profile},
        {"firmwareVersion", st.firmwareVersion},
        {"settings", st.settings},
        {"info", st.info},
        {"apm", st.apm},
        {"logoFlag", st.logoFlag},
        {"hostReplies", st.hostReplies},
        {"failFactory", st.failFactory},
        {"faultOn", st.faultOn},
        {"overflowOn", st.overflowOn},
        {"blockOn", st.blockOn},
    };
}

json DeviceToJson(const Device& d) {
    return {{"model", d.model}, {"vendorId", d.vendorId}, {"productId", d.productId},
            {"path", d.path},   {"factory", d.factory},   {"state", StateToJson(d.state)}};
}

dev::SystemInfoRecord DefaultSystemInfo() {
    // Plausible readings of an idle desktop, so a panel shows something.
    const uint32_t values[] = {45, 12,   3600,  1200, 40,   5, 1500, 900,
                               35, 5600, 16384, 31,   2400, 3, 12,   250};
    dev::SystemInfoRecord r{};
    for (size_t i = 0; i < std::size(kSystemInfoFields); ++i) {
        std::memcpy(reinterpret_cast<char*>(&r) + kSystemInfoFields[i].offset, &values[i], 4);
    }
    return r;
}

void ApplySystemInfo(const json& fields, dev::SystemInfoRecord& record) {
    CheckObject(fields, "systemInfo");
    dev::SystemInfoRecord r = record;
    for (const auto& [key, v] : fields.items()) {
        const SystemInfoField* field = nullptr;
        for (const auto& f : kSystemInfoFields) {
            if (key == f.name) {
                field = &f;
            }
        }
        if (!field) {
            throw Error("unknown systemInfo field: " + key);
        }
        const uint32_t value = Int<uint32_t>(v, "systemInfo." + key);
        std::memcpy(reinterpret_cast<char*>(&r) + field->offset, &value, 4);
    }
    record = r;
}

json SystemInfoToJson(const dev::SystemInfoRecord& record) {
    json j = json::object();
    for (const auto& f : kSystemInfoFields) {
        uint32_t value;
        std::memcpy(&value, reinterpret_cast<const char*>(&record) + f.offset, 4);
        j[f.name] = value;
    }
    return j;
}

Device MakeDevice(const json& entry, bool allowFault,
                  const std::function<bool(const std::string&)>& taken) {
    CheckObject(entry, "device");
    if (!entry.contains("model")) {
        throw Error("device: model missing");
    }
    Device d;
    d.model = Text(entry["model"], "model");
    std::string_view base = d.model;
    const bool dongle = base.size() > kDongleSuffix.size() && base.ends_with(kDongleSuffix);
    if (dongle) {
        base.remove_suffix(kDongleSuffix.size());
    }
    if (const std::optional<Model> model = FindModel(base)) {
        d.productId = model->productId;
        d.factory = model->factory;
    } else if (!entry.contains("productId")) {
        throw Error("unknown model " + d.model + " needs vendorId and productId");
    }
    if (entry.contains("factory")) {  // a model of our own, opened by a known export
        d.factory = Text(entry["factory"], "factory");
    }
    if (entry.contains("vendorId")) {
        d.vendorId = Int<uint16_t>(entry["vendorId"], "vendorId");
    }
    if (entry.contains("productId")) {
        d.productId = Int<uint16_t>(entry["productId"], "productId");
    }
    if (entry.contains("path")) {
        d.path = Text(entry["path"], "path");
        // The hot-plug record holds 1023 characters; a longer path could
        // not be told to the service whole.
        if (d.path.empty() || d.path.size() >= sizeof(dev::DevNotifyRecord::path)) {
            throw Error("path: must be 1 to 1023 characters");
        }
    } else {
        for (int ordinal = 0; d.path.empty() || taken(d.path); ++ordinal) {
            d.path = DefaultPath(d.vendorId, d.productId, dongle, ordinal);
        }
    }
    json rest = entry;
    for (const char* key : {"model", "factory", "vendorId", "productId", "path", "state"}) {
        rest.erase(key);
    }
    ApplyState(rest, d.state, allowFault);
    if (entry.contains("state")) {
        ApplyState(entry["state"], d.state, allowFault);
    }
    return d;
}

Scenario ParseScenario(const json& j, bool allowFault) {
    CheckObject(j, "scenario");
    Scenario s;
    for (const auto& [key, v] : j.items()) {
        if (key == "devices") {
            if (!v.is_array() || v.size() > kMaxDevices) {
                throw Error("devices: expected an array of at most 256 entries");
            }
            for (const json& entry : v) {
                auto taken = [&](const std::string& path) {
                    for (const auto& d : s.devices) {
                        if (d->path == path) {
                            return true;
                        }
                    }
                    return false;
                };
                Device d = MakeDevice(entry, allowFault, taken);
                if (taken(d.path)) {
                    throw Error("two devices with path " + d.path);
                }
                s.devices.push_back(std::make_shared<Device>(std::move(d)));
            }
        } else if (key == "systemInfo") {
            ApplySystemInfo(v, s.systemInfo);
        } else if (key == "systemValue") {
            s.systemValue = Int<uint32_t>(v, key);
        } else if (key == "systemInfoIntervalMs") {
            s.systemInfoIntervalMs = Int<uint32_t>(v, key);
        } else if (key == "frameDir") {
            s.frameDir = Text(v, key);
        } else {
            throw Error("unknown scenario field: " + key);
        }
    }
    return s;
}

}  // namespace twsim
