// The RX420 mouse, the LQ120 cooler and the CS900 case.
#include "devices/models.h"
#include "devices/system_info.h"

namespace vt::devices {

namespace {

constexpr uint8_t kMusicPulseMode = 216;
constexpr int32_t kEffectModeChanged = 2;

void VT_STDCALL RX420EffectMode(int32_t code) {
    const CallbackScope scope;
    DeviceLayer* layer = scope.layer();
    if (layer != nullptr && code == kEffectModeChanged) {
        try {  // nothing may unwind into the library's frames
            layer->LogInformation(L"RX420 effect mode notify");
        } catch (...) {
        }
    }
}

// A mouse found in music-pulse mode gets the pulse started before the
// creation is reported.
void SetUpRX420(DeviceLayer&, RX420Device& device) {
    device.RegisterEffectModeCallback(&RX420EffectMode);
    uint8_t mode = 0;
    device.GetEffectMode(&mode);
    if (mode == kMusicPulseMode) {
        device.SetMusicPulse(1);
    }
}

// The cooler reports whether it is to follow the screen saver and which
// mode it shows. Found in the multi-display mode, it gets an empty cycle,
// so nothing is stepped until the desktop application sends one.
void SetUpLQ120(DeviceLayer& layer, LQ120Device& device) {
    CoolerDisplay& cooler = layer.cooler;
    SaverSettings settings{0, 1, 100, 100};
    device.GetSaverSettings(&settings);
    cooler.screenSaveEnabled = settings.screenSaveEnabled;
    uint8_t mode = 0;
    device.GetDisplayMode(&mode);
    if (mode == kMultiDisplayMode) {
        DisplayCycleRequest empty{5, {kNoMode, kNoMode, kNoMode, kNoMode, kNoMode}, 0};
        device.SetMultiDisplay(&empty);
        cooler.SetDisplayCycle(empty);
    }
    cooler.SetCycleActive(mode == kMultiDisplayMode);
    ConnectSystemInfo(layer, layer.lq120SystemInfo,
                      &ForwardSystemInfo<LQ120Device, &DeviceSlots::lq120>);
}

// The case panel's settings path, system readings and panel feed.
void SetUpCS900(DeviceLayer& layer, CS900Device&) {
    if (CS900Panel* panel = layer.cs900Panel()) {
        panel->SetUp();
    }
}

// The RX420 retries at once.
constexpr ModelSpec<RX420Device> kSpecRX420{
    &TwLinkApi::rx420, &DeviceSlots::rx420, 0,
    &SetUpRX420,       L"CreateRX420",      L"CreateRX420 : Fail to create the RX420"};
constexpr ModelSpec<LQ120Device> kSpecLQ120{
    &TwLinkApi::lq120, &DeviceSlots::lq120, 3000,
    &SetUpLQ120,       L"CreateLQ120",      L"CreateLQ120 : Fail to create the LQ120"};
constexpr ModelSpec<CS900Device> kSpecCS900{
    &TwLinkApi::cs900, &DeviceSlots::cs900, 3000,
    &SetUpCS900,       L"CreateCS900",      L"CreateCS900 : Fail to create the CS900"};

}  // namespace

const ModelEntry kRX420 = EntryFor<kSpecRX420>();
const ModelEntry kLQ120 = EntryFor<kSpecLQ120>();
const ModelEntry kCS900 = EntryFor<kSpecCS900>();

}  // namespace vt::devices
