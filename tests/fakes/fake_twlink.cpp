#include "fakes/fake_twlink.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vt::fakes {

namespace {

FakeTwLinkState g_state;

std::string Arg(int64_t v) {
    return std::to_string(v);
}

template <class Interface>
Interface* Make(const char* factory, const char* path) {
    FakeTwLinkState& s = g_state;
    s.calls.push_back(std::string(factory) + "(" + path + ")");
    int& fails = s.failNext[factory];
    if (fails > 0) {
        --fails;
        return nullptr;
    }
    s.objects.push_back(std::make_unique<FakeDevice>(factory, path));
    return static_cast<Interface*>(s.objects.back().get());
}

extern "C" {
void VT_CDECL FakeBackground(int32_t on) {
    g_state.calls.push_back("twlink_background(" + Arg(on) + ")");
}
void VT_CDECL FakeInit() {
    g_state.calls.push_back("twlink_init()");
}
int32_t VT_CDECL FakeDevInfo(DevInfoRecord* buffer) {
    g_state.calls.push_back("devInfo");
    const size_t n = std::min(g_state.attached.size(), size_t{kDevInfoCapacity});
    if (n > 0) {  // an empty vector's data() may be null, even for 0 bytes
        std::memcpy(buffer, g_state.attached.data(), n * sizeof(DevInfoRecord));
    }
    return g_state.overrideCount ? g_state.count : static_cast<int32_t>(n);
}
void VT_CDECL FakeRegisterDevNotify(DevNotifyCallback cb) {
    g_state.calls.push_back("registerDevNotify");
    g_state.notify = cb;
}
SystemInfoSource* VT_CDECL FakeSysInfo() {
    g_state.calls.push_back("sysInfo");
    return g_state.hasSystemInfo ? &g_state.systemInfo : nullptr;
}
KeyboardDevice* VT_CDECL FakeKb505(const char* p) {
    return Make<KeyboardDevice>("kb505", p);
}
KeyboardDevice* VT_CDECL FakeKb507(const char* p) {
    return Make<KeyboardDevice>("kb507", p);
}
KeyboardDeviceV2* VT_CDECL FakeKb709(const char* p) {
    return Make<KeyboardDeviceV2>("kb709", p);
}
KeyboardDeviceV2* VT_CDECL FakeKb303(const char* p) {
    return Make<KeyboardDeviceV2>("kb303", p);
}
KeyboardDeviceV2* VT_CDECL FakeKb401(const char* p) {
    return Make<KeyboardDeviceV2>("kb401", p);
}
KeyboardDeviceV3* VT_CDECL FakeKb403(const char* p) {
    return Make<KeyboardDeviceV3>("kb403", p);
}
KeyboardDeviceV3* VT_CDECL FakeKb406(const char* p) {
    return Make<KeyboardDeviceV3>("kb406", p);
}
HeadsetDevice* VT_CDECL FakeHv150(const char* p) {
    return Make<HeadsetDevice>("hv150", p);
}
HeadsetDevice* VT_CDECL FakeHv210(const char* p) {
    return Make<HeadsetDevice>("hv210", p);
}
HeadsetDevice* VT_CDECL FakeHv230(const char* p) {
    return Make<HeadsetDevice>("hv230", p);
}
LQ120Device* VT_CDECL FakeLq120(const char* p) {
    return Make<LQ120Device>("lq120", p);
}
CS900Device* VT_CDECL FakeCs900(const char* p) {
    return Make<CS900Device>("cs900", p);
}
RX420Device* VT_CDECL FakeRx420(const char* p) {
    return Make<RX420Device>("rx420", p);
}
RX410Device* VT_CDECL FakeRx410(const DevInfoRecord* r) {
    return Make<RX410Device>("rx410", r->path);
}
}

template <class Fn>
void* Address(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

class FakeLibrary final : public platform::DynamicLibrary {
  public:
    FakeLibrary(SymbolMap symbols, std::wstring name, std::vector<std::wstring>& unloads)
        : symbols_(std::move(symbols)), name_(std::move(name)), unloads_(unloads) {}
    void* Symbol(const char* name) override {
        auto it = symbols_.find(name);
        return it == symbols_.end() ? nullptr : it->second;
    }
    void Unload() override {
        unloads_.push_back(name_);
        symbols_.clear();
    }

  private:
    SymbolMap symbols_;
    std::wstring name_;
    std::vector<std::wstring>& unloads_;
};

}  // namespace

void FakeDevice::Log(const std::string& operation) {
    g_state.calls.push_back(factory + "." + operation);
    if (g_state.onCall) {
        g_state.onCall(g_state.calls.back());
    }
    if (!g_state.throwOn.empty() && operation.rfind(g_state.throwOn, 0) == 0) {
        throw std::runtime_error("device fault: " + operation);
    }
}

void FakeDevice::SetSystemStatusEffect(StatusEffectRequest* r) {
    Log("SetSystemStatusEffect(" + Arg(r->type) + "," + Arg(r->reserved) + ")");
}
void FakeDevice::RegisterNotifyCallback(KeyboardNotifyCallback cb) {
    keyboardCallback = cb;
    Log("RegisterNotifyCallback");
}
void FakeDevice::GetFirmwareVersion(uint32_t* v) {
    *v = 0x0100;
    Log("GetFirmwareVersion");
}
void FakeDevice::SetBrightness(int32_t level) {
    Log("SetBrightness(" + Arg(level) + ")");
}
void FakeDevice::GetProfile(int32_t* profile) {
    *profile = 1;
    Log("GetProfile");
}
void FakeDevice::SetKeyNotify(int32_t* on) {
    Log("SetKeyNotify(" + Arg(*on) + ")");
}
void FakeDevice::RegisterKeyCallback(HeadsetKeyCallback cb) {
    keyCallback = cb;
    Log("RegisterKeyCallback");
}
void FakeDevice::SetCycleMode(uint8_t mode) {
    Log("SetCycleMode(" + Arg(mode) + ")");
}
void FakeDevice::GetDisplayMode(uint8_t* mode) {
    *mode = g_state.displayMode;
    Log("GetDisplayMode");
}
void FakeDevice::GetSaverSettings(SaverSettings* settings) {
    g_state.saverSeen = *settings;
    if (g_state.saverReport >= 0) {
        settings->screenSaveEnabled = static_cast<uint8_t>(g_state.saverReport);
    }
    Log("GetSaverSettings");
}
void FakeDevice::SetMultiDisplay(DisplayCycleRequest* r) {
    std::string text = "SetMultiDisplay(" + Arg(r->duration);
    for (uint8_t m : r->modes) {
        text.append(1, ',').append(Arg(m));
    }
    Log(text.append(1, ')'));
}
void FakeDevice::SetSaverSwitchB(int32_t on) {
    Log("SetSaverSwitchB(" + Arg(on) + ")");
}
void FakeDevice::SetSaverSwitchA(int32_t on) {
    Log("SetSaverSwitchA(" + Arg(on) + ")");
}
void FakeDevice::SendSystemInfo(SystemInfoRecord* record) {
    systemInfos.push_back(*record);
    Log("SendSystemInfo(" + Arg(record->cpuTemperature) + ")");
}
void FakeDevice::SetDisplayMode(uint8_t* mode) {
    Log("SetDisplayMode(" + Arg(*mode) + ")");
}
void FakeDevice::GetPanelMode(uint8_t* mode) {
    Log("GetPanelMode");
    if (faultInPanelMode) {
        throw std::runtime_error("panel fault");
    }
    *mode = panelMode;
}
void FakeDevice::GetPingTarget(uint32_t* selector) {
    *selector = pingTarget;
    Log("GetPingTarget");
}
void FakeDevice::GetPanelCycle(PanelCycle* c) {
    // Logs what the service handed in before filling in the panel's cycle.
    // Appended piece by piece: GCC 12 at -O3 warns falsely about "," + text.
    std::string text = "GetPanelCycle(" + Arg(c->count);
    for (uint8_t m : c->modes) {
        text.append(1, ',').append(Arg(m));
    }
    text.append(1, ',').append(Arg(c->extra)).append(1, ')');
    Log(text);
    c->count = cycleCount;
    std::memcpy(c->modes, cycleModes, sizeof c->modes);
}
void FakeDevice::SendPanelData(PanelData* d) {
    panelData.push_back(*d);
    Log("SendPanelData(" + Arg(d->customValue) + "," + Arg(d->latencyMs) + "," +
        Arg(d->systemValue) + ")");
}
void FakeDevice::HandleHostCommand(const char* function, const char* parameter, char* reply,
                                   uint32_t replySize) {
    Log(std::string("HandleHostCommand(") + function + "," + parameter + ")");
    if (g_state.hostReply && replySize > 0) {
        const size_t n = std::min<size_t>(g_state.hostReply->size(), replySize - 1);
        std::memcpy(reply, g_state.hostReply->data(), n);
        reply[n] = '\0';
    }
}
void FakeDevice::GetEffectMode(uint8_t* mode) {
    *mode = g_state.effectMode;
    Log("GetEffectMode");
}
void FakeDevice::ControlOff() {
    Log("ControlOff");
}
void FakeDevice::SetMusicPulse(int32_t on) {
    Log("SetMusicPulse(" + Arg(on) + ")");
}
void FakeDevice::RegisterEffectModeCallback(EffectModeCallback cb) {
    effectCallback = cb;
    Log("RegisterEffectModeCallback");
}
void FakeDevice::ReadSettings(int32_t selector, uint8_t*) {
    Log("ReadSettings(" + Arg(selector) + ")");
}
void FakeDevice::ApplyChanges() {
    Log("ApplyChanges");
}
void FakeDevice::SetOled(int32_t* mode, uintptr_t) {
    Log("SetOled(" + Arg(*mode) + ")");
}
void FakeDevice::QueryInfo(int32_t* selector, int32_t, void*) {
    Log("QueryInfo(" + Arg(*selector) + ")");
}

void FakeSystemInfo::RegisterSystemInfoCallback(SystemInfoCallback cb) {
    callback = cb;
    g_state.calls.push_back("systemInfo.RegisterSystemInfoCallback");
}
void FakeSystemInfo::QuerySystemValue(uint32_t* value) {
    *value = systemValue;
    g_state.calls.push_back("systemInfo.QuerySystemValue");
}

FakeDevice* FakeTwLinkState::Last(const std::string& factory) {
    for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
        if ((*it)->factory == factory) {
            return it->get();
        }
    }
    return nullptr;
}

void FakeTwLinkState::Attach(uint16_t vendorId, uint16_t productId, const std::string& path) {
    DevInfoRecord r{};
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
    r.vendorId = vendorId;
    r.productId = productId;
    attached.push_back(r);
}

FakeTwLinkState& TwLink() {
    return g_state;
}
void ResetTwLink() {
    g_state = FakeTwLinkState{};
}

std::map<std::string, void*> TwLinkSymbols() {
    return {
        {"twlink_background", Address(&FakeBackground)},
        {"twlink_init", Address(&FakeInit)},
        {"devInfo", Address(&FakeDevInfo)},
        {"registerDevNotify", Address(&FakeRegisterDevNotify)},
        {"sysInfo", Address(&FakeSysInfo)},
        {"kb505", Address(&FakeKb505)},
        {"kb507", Address(&FakeKb507)},
        {"kb709", Address(&FakeKb709)},
        {"kb303", Address(&FakeKb303)},
        {"kb401", Address(&FakeKb401)},
        {"kb403", Address(&FakeKb403)},
        {"kb406", Address(&FakeKb406)},
        {"hv150", Address(&FakeHv150)},
        {"hv210", Address(&FakeHv210)},
        {"hv230", Address(&FakeHv230)},
        {"lq120", Address(&FakeLq120)},
        {"cs900", Address(&FakeCs900)},
        {"rx420", Address(&FakeRx420)},
        {"rx410", Address(&FakeRx410)},
    };
}

DevNotifyRecord MakeNotify(uint32_t vendorId, uint32_t productId, const std::string& path,
                           uint32_t eventCode) {
    DevNotifyRecord r{};
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
    r.vendorId = vendorId;
    r.productId = productId;
    r.eventCode = eventCode;
    return r;
}

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromProgramFolder(
    const platform::LibraryName& name, uint32_t& error) {
    loads.push_back(name.windows);
    auto it = components.find(name.windows);
    if (it == components.end()) {
        if (loadError != 0) {
            error = loadError;
            return nullptr;
        }
        return std::make_unique<FakeLibrary>(symbols, name.windows, unloads);
    }
    if (it->second.programFolderError != 0) {
        error = it->second.programFolderError;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(it->second.symbols, name.windows, unloads);
}

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromSystemFolder(
    const platform::LibraryName& name, uint32_t& error) {
    systemFolderLoads.push_back(name.windows);
    auto it = components.find(name.windows);
    if (it == components.end() || !it->second.systemFolderSymbols) {
        error = platform::kErrorModNotFound;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(*it->second.systemFolderSymbols,
                                         std::wstring(L"system/") + name.windows, unloads);
}

// The fake components allocate their texts with malloc.
void FakeLibraries::FreeComponentString(void* text) {
    if (text != nullptr) {
        ++freedStrings;
    }
    std::free(text);
}

}  // namespace vt::fakes
