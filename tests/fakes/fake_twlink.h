// A device library for unit tests: exports and device objects that record
// every call in one log, with attached devices and fault switches set by the
// test. The library's exports carry no context, so its state is one global,
// reset by every FakePlatform.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devices/twlink.h"
#include "platform/library.h"

namespace vt::fakes {

using namespace devices;

// One object a factory handed out; implements every device family.
class FakeDevice final : public KeyboardDevice,
                         public KeyboardDeviceV2,
                         public KeyboardDeviceV3,
                         public HeadsetDevice,
                         public LQ120Device,
                         public CS900Device,
                         public RX420Device,
                         public RX410Device {
  public:
    FakeDevice(std::string factory, std::string path)
        : factory(std::move(factory)), path(std::move(path)) {}
    void SetSystemStatusEffect(StatusEffectRequest* request) override;
    void RegisterNotifyCallback(KeyboardNotifyCallback callback) override;
    void GetFirmwareVersion(uint32_t* version) override;
    void SetBrightness(int32_t level) override;
    void GetProfile(int32_t* profile) override;
    void SetKeyNotify(int32_t* on) override;
    void RegisterKeyCallback(HeadsetKeyCallback callback) override;
    void SetCycleMode(uint8_t mode) override;
    void GetDisplayMode(uint8_t* mode) override;
    void GetSaverSettings(SaverSettings* settings) override;
    void SetMultiDisplay(DisplayCycleRequest* request) override;
    void SetSaverSwitchB(int32_t on) override;
    void SetSaverSwitchA(int32_t on) override;
    void SendSystemInfo(SystemInfoRecord* record) override;
    void SetDisplayMode(uint8_t* mode) override;
    void GetPanelMode(uint8_t* mode) override;
    void GetPingTarget(uint32_t* selector) override;
    void GetPanelCycle(PanelCycle* cycle) override;
    void SendPanelData(PanelData* data) override;
    void HandleHostCommand(const char* function, const char* parameter, char* reply,
                           uint32_t replySize) override;
    void GetEffectMode(uint8_t* mode) override;
    void ControlOff() override;
    void SetMusicPulse(int32_t on) override;
    void RegisterEffectModeCallback(EffectModeCallback callback) override;
    void ReadSettings(int32_t selector, uint8_t settings[kMouseSettingsSize]) override;
    void ApplyChanges() override;
    void SetOled(int32_t* mode, uintptr_t data) override;
    void QueryInfo(int32_t* selector, int32_t zero, void* out) override;

    const std::string factory;
    const std::string path;
    // The case panel as the test sets it.
    uint8_t panelMode = 0;
    uint32_t pingTarget = 0;
    uint8_t cycleCount = 0;
    uint8_t cycleModes[5] = {0, 0, 0, 0, 0};
    bool faultInPanelMode = false;  // GetPanelMode throws
    std::vector<PanelData> panelData;
    std::vector<SystemInfoRecord> systemInfos;
    KeyboardNotifyCallback keyboardCallback = nullptr;
    HeadsetKeyCallback keyCallback = nullptr;
    EffectModeCallback effectCallback = nullptr;

  private:
    void Log(const std::string& operation);
};

// The library's system-information object.
class FakeSystemInfo final : public SystemInfoSource {
  public:
    void RegisterSystemInfoCallback(SystemInfoCallback callback) override;
    void QuerySystemValue(uint32_t* value) override;

    SystemInfoCallback callback = nullptr;
    uint32_t systemValue = 0;
};

struct FakeTwLinkState {
    std::vector<DevInfoRecord> attached;
    bool overrideCount = false;  // devInfo returns `count` instead of attached.size()
    int32_t count = 0;
    std::map<std::string, int> failNext;   // factory -> calls that still return null
    uint8_t effectMode = 0;                // what RX420 objects report
    uint8_t displayMode = 0;               // what LQ120 objects report
    int saverReport = -1;                  // LQ120 saver flag written back; -1: none
    SaverSettings saverSeen{};             // the record as the service pre-set it
    std::optional<std::string> hostReply;  // CS900 host-command reply; none: left as it is
    std::string throwOn;                   // a device operation that throws
    // Runs inside every device operation, after it is recorded: what other
    // threads do while a call is under way.
    std::function<void(const std::string& call)> onCall;
    FakeSystemInfo systemInfo;
    bool hasSystemInfo = true;  // sysInfo returns null when false
    DevNotifyCallback notify = nullptr;
    std::vector<std::unique_ptr<FakeDevice>> objects;
    std::vector<std::string> calls;

    FakeDevice* Last(const std::string& factory);
    void Attach(uint16_t vendorId, uint16_t productId, const std::string& path);
};

FakeTwLinkState& TwLink();
void ResetTwLink();
// The fake's exports by name, as a loaded library would serve them.
std::map<std::string, void*> TwLinkSymbols();

// The maker's vendor id, on every device it makes.
constexpr uint16_t kVid = 0x3A7C;

DevNotifyRecord MakeNotify(uint32_t vendorId, uint32_t productId, const std::string& path,
                           uint32_t eventCode);

using SymbolMap = std::map<std::string, void*>;

// A component other than the device library, by its Windows file name.
struct FakeComponent {
    SymbolMap symbols;  // the copy in the program folder
    // kErrorModNotFound: no copy in the program folder.
    uint32_t programFolderError = 0;
    // A copy in the system's library folder, when there is one.
    std::optional<SymbolMap> systemFolderSymbols;
};

// Serves named symbols as a loaded library; fails loads when told to.
class FakeLibraries final : public platform::Libraries {
  public:
    std::unique_ptr<platform::DynamicLibrary> LoadFromProgramFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    std::unique_ptr<platform::DynamicLibrary> LoadFromSystemFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const platform::LibraryName& name) override { return name.windows; }

    // Names not listed in `components` serve these.
    SymbolMap symbols = TwLinkSymbols();
    uint32_t loadError = 0;
    std::map<std::wstring, FakeComponent> components;
    std::vector<std::wstring> loads;  // program folder, by name
    std::vector<std::wstring> systemFolderLoads;
    std::vector<std::wstring> unloads;
    int freedStrings = 0;
};

}  // namespace vt::fakes
