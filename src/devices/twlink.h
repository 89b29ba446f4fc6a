// The contract with the device library TWLINK.dll (libtwlink.so on Linux).
//
// The library alone talks to the USB hardware. The service calls its plain
// exports (caller-cleaned, VT_CDECL) and the virtual operations of the
// objects its factories return; the callbacks it hands over are
// callee-cleaned (VT_STDCALL). Records cross the boundary by pointer or by
// value and are packed; their sizes and offsets are checked below, because
// the library was built elsewhere and only the bytes are shared.
//
// Device objects belong to the library: the service never deletes one, so
// the interfaces declare no virtual destructor (an extra slot would shift
// every operation). The order of the virtual operations is the library's
// binary layout and must not change; operations the service never calls are
// still declared where they stand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/callconv.h"

namespace vt::devices {

inline constexpr uint16_t kMakerVendorId = 0x3A7C;
inline constexpr int kDevInfoCapacity = 50;

#pragma pack(push, 1)

// One attached device, as devInfo lists it.
struct DevInfoRecord {
    char path[2562];  // NUL-terminated; handed unchanged to the factory
    uint16_t productId;
    uint16_t vendorId;
    uint8_t reserved[8];
};

// One arrival (eventCode 1) or removal (any other code), passed by value to
// the hot-plug callback.
struct DevNotifyRecord {
    uint8_t reserved0[30];
    char path[1024];
    uint32_t vendorId;
    uint32_t productId;
    uint32_t eventCode;
    uint8_t reserved1[8];
};

// The library's periodic system readings; forwarded unchanged to the cooler
// and the case panel. Temperatures in whole degrees Celsius, loads in
// percent, clocks in MHz, fans in RPM.
struct SystemInfoRecord {
    uint32_t cpuTemperature;
    uint32_t cpuLoad;
    uint32_t cpuClock;
    uint32_t cpuFan;
    uint32_t gpuTemperature;
    uint32_t gpuLoad;
    uint32_t gpuClock;
    uint32_t gpuFan;
    uint32_t ramLoad;
    uint32_t ramUsedMb;
    uint32_t ramTotalMb;
    uint32_t liquidTemperature;
    uint32_t pumpSpeed;
    uint32_t diskLoad;
    uint32_t netUpKbps;
    uint32_t netDownKbps;
    uint32_t reserved[4];
};

struct StatusEffectRequest {
    int32_t type;
    int32_t reserved;  // always 0
};

// LQ120 cooler records.
struct SaverSettings {
    uint8_t reserved;
    uint8_t screenSaveEnabled;
    uint32_t valueA;
    uint32_t valueB;
};

struct DisplayCycleRequest {
    uint32_t duration;  // seconds per mode
    uint8_t modes[5];   // 0xFF = no mode
    uint8_t pad;
};

// CS900 case panel records.
struct PanelCycle {
    uint8_t count;
    uint8_t modes[5];
    uint8_t extra;
};

struct PanelData {
    int32_t customValue;   // panel mode 19
    uint32_t latencyMs;    // panel mode 14
    uint32_t systemValue;  // panel mode 7
};

// RX410 mouse screen frame: 96 columns x 24 rows, column by column, each
// column top to bottom, one byte (0 or 1) per pixel.
inline constexpr int kOledWidth = 96;
inline constexpr int kOledHeight = 24;
inline constexpr int kOledPixels = kOledWidth * kOledHeight;
inline constexpr uint32_t kOledFrameId = 0xF1;

struct OledFrame {
    uint32_t frameId;
    uint8_t pixels[kOledPixels];
};

inline constexpr int kMouseSettingsSize = 29;
inline constexpr int kMouseInfoSize = 8;

#pragma pack(pop)

static_assert(sizeof(DevInfoRecord) == 2574);
static_assert(offsetof(DevInfoRecord, productId) == 2562);
static_assert(offsetof(DevInfoRecord, vendorId) == 2564);
static_assert(sizeof(DevNotifyRecord) == 1074);
static_assert(offsetof(DevNotifyRecord, path) == 30);
static_assert(offsetof(DevNotifyRecord, vendorId) == 1054);
static_assert(offsetof(DevNotifyRecord, productId) == 1058);
static_assert(offsetof(DevNotifyRecord, eventCode) == 1062);
static_assert(sizeof(SystemInfoRecord) == 80);
static_assert(sizeof(StatusEffectRequest) == 8);
static_assert(sizeof(SaverSettings) == 10);
static_assert(offsetof(SaverSettings, screenSaveEnabled) == 1);
static_assert(sizeof(DisplayCycleRequest) == 10);
static_assert(offsetof(DisplayCycleRequest, modes) == 4);
static_assert(sizeof(PanelCycle) == 7);
static_assert(sizeof(PanelData) == 12);
static_assert(sizeof(OledFrame) == 4 + 2304);

// Callbacks handed to the library (callee-cleaned).
using DevNotifyCallback = void(VT_STDCALL*)(DevNotifyRecord record);
using KeyboardNotifyCallback = void(VT_STDCALL*)(int32_t* code);  // 0 profile, 1 effect
using HeadsetKeyCallback = void(VT_STDCALL*)(int32_t keyCode, int32_t extra);
using EffectModeCallback = void(VT_STDCALL*)(int32_t code);  // 2 = effect mode changed
using SystemInfoCallback = void(VT_STDCALL*)(SystemInfoRecord record);

// Keyboard families. Each factory returns one of three object layouts; the
// place of SetSystemStatusEffect differs between them, and it always stands
// before RegisterNotifyCallback.
class KeyboardDevice {  // kb505, kb507
  public:
    virtual void SetSystemStatusEffect(StatusEffectRequest* request) = 0;
    virtual void RegisterNotifyCallback(KeyboardNotifyCallback callback) = 0;

  protected:
    ~KeyboardDevice() = default;
};

class KeyboardDeviceV2 {  // kb709 (KB709, its dongle, KB711), kb303, kb401
  public:
    virtual void GetFirmwareVersion(uint32_t* version) = 0;
    virtual void SetSystemStatusEffect(StatusEffectRequest* request) = 0;
    virtual void RegisterNotifyCallback(KeyboardNotifyCallback callback) = 0;

  protected:
    ~KeyboardDeviceV2() = default;
};

class KeyboardDeviceV3 {  // kb403 (KB403B, KB403W), kb406 (KB405, KB406, KB407)
  public:
    virtual void GetFirmwareVersion(uint32_t* version) = 0;
    virtual void SetBrightness(int32_t level) = 0;
    virtual void SetSystemStatusEffect(StatusEffectRequest* request) = 0;
    virtual void GetProfile(int32_t* profile) = 0;
    virtual void RegisterNotifyCallback(KeyboardNotifyCallback callback) = 0;

  protected:
    ~KeyboardDeviceV3() = default;
};

class HeadsetDevice {  // hv150, hv210, hv230
  public:
    virtual void SetKeyNotify(int32_t* on) = 0;
    virtual void RegisterKeyCallback(HeadsetKeyCallback callback) = 0;

  protected:
    ~HeadsetDevice() = default;
};

class LQ120Device {
  public:
    virtual void SetCycleMode(uint8_t mode) = 0;
    virtual void GetDisplayMode(uint8_t* mode) = 0;
    virtual void GetSaverSettings(SaverSettings* settings) = 0;
    virtual void SetMultiDisplay(DisplayCycleRequest* request) = 0;
    virtual void SetSaverSwitchB(int32_t on) = 0;
    virtual void SetSaverSwitchA(int32_t on) = 0;
    virtual void SendSystemInfo(SystemInfoRecord* record) = 0;
    virtual void SetDisplayMode(uint8_t* mode) = 0;

  protected:
    ~LQ120Device() = default;
};

class CS900Device {
  public:
    virtual void GetPanelMode(uint8_t* mode) = 0;
    virtual void GetPingTarget(uint32_t* selector) = 0;
    virtual void GetPanelCycle(PanelCycle* cycle) = 0;
    virtual void SendSystemInfo(SystemInfoRecord* record) = 0;
    virtual void SendPanelData(PanelData* data) = 0;
    // Handles a host command addressed to the panel. The device may write a
    // NUL-terminated reply of at most replySize - 1 bytes into `reply`;
    // otherwise it leaves the buffer as it is.
    virtual void HandleHostCommand(const char* function, const char* parameter, char* reply,
                                   uint32_t replySize) = 0;

  protected:
    ~CS900Device() = default;
};

class RX420Device {
  public:
    virtual void GetEffectMode(uint8_t* mode) = 0;
    virtual void ControlOff() = 0;
    virtual void SetMusicPulse(int32_t on) = 0;
    virtual void RegisterEffectModeCallback(EffectModeCallback callback) = 0;

  protected:
    ~RX420Device() = default;
};

class RX410Device {
  public:
    virtual void GetProfile(int32_t* profile) = 0;
    virtual void ReadSettings(int32_t selector, uint8_t settings[kMouseSettingsSize]) = 0;
    virtual void ApplyChanges() = 0;
    // mode 3 uploads the OledFrame at `data`; mode 0 selects what the screen
    // shows: data 0 the built-in logo, data 0xF1 the uploaded frame.
    virtual void SetOled(int32_t* mode, uintptr_t data) = 0;
    // selector 0: int32 flag; 4: the 8-byte info block; 5: the APM int32.
    virtual void QueryInfo(int32_t* selector, int32_t zero, void* out) = 0;

  protected:
    ~RX410Device() = default;
};

class SystemInfoSource {
  public:
    virtual void RegisterSystemInfoCallback(SystemInfoCallback callback) = 0;
    virtual void QuerySystemValue(uint32_t* value) = 0;

  protected:
    ~SystemInfoSource() = default;
};

// The exports, as function-pointer types.
extern "C" {
using TwlinkBackgroundFn = void(VT_CDECL*)(int32_t on);
using TwlinkInitFn = void(VT_CDECL*)();
using DevInfoFn = int32_t(VT_CDECL*)(DevInfoRecord* buffer);  // kDevInfoCapacity records
using RegisterDevNotifyFn = void(VT_CDECL*)(DevNotifyCallback callback);
using SysInfoFn = SystemInfoSource*(VT_CDECL*)();
using KeyboardFactoryFn = KeyboardDevice*(VT_CDECL*)(const char* path);
using KeyboardV2FactoryFn = KeyboardDeviceV2*(VT_CDECL*)(const char* path);
using KeyboardV3FactoryFn = KeyboardDeviceV3*(VT_CDECL*)(const char* path);
using HeadsetFactoryFn = HeadsetDevice*(VT_CDECL*)(const char* path);
using LQ120FactoryFn = LQ120Device*(VT_CDECL*)(const char* path);
using CS900FactoryFn = CS900Device*(VT_CDECL*)(const char* path);
using RX420FactoryFn = RX420Device*(VT_CDECL*)(const char* path);
using RX410FactoryFn = RX410Device*(VT_CDECL*)(const DevInfoRecord* record);
}

// Every export the service uses, resolved once.
struct TwLinkApi {
    TwlinkBackgroundFn twlink_background = nullptr;
    TwlinkInitFn twlink_init = nullptr;
    DevInfoFn devInfo = nullptr;
    RegisterDevNotifyFn registerDevNotify = nullptr;
    SysInfoFn sysInfo = nullptr;
    KeyboardFactoryFn kb505 = nullptr;
    KeyboardFactoryFn kb507 = nullptr;
    KeyboardV2FactoryFn kb709 = nullptr;
    KeyboardV2FactoryFn kb303 = nullptr;
    KeyboardV2FactoryFn kb401 = nullptr;
    KeyboardV3FactoryFn kb403 = nullptr;
    KeyboardV3FactoryFn kb406 = nullptr;
    HeadsetFactoryFn hv150 = nullptr;
    HeadsetFactoryFn hv210 = nullptr;
    HeadsetFactoryFn hv230 = nullptr;
    LQ120FactoryFn lq120 = nullptr;
    CS900FactoryFn cs900 = nullptr;
    RX420FactoryFn rx420 = nullptr;
    RX410FactoryFn rx410 = nullptr;
};

// The library's file name in the service executable's folder.
inline constexpr wchar_t kTwLinkWindowsName[] = L"TWLINK.dll";
inline constexpr char kTwLinkPosixName[] = "libtwlink.so";

}  // namespace vt::devices
