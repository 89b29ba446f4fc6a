// The three headset handlers: each reports presses of the headset's 7.1 and
// mute keys as information entries.
#include "devices/models.h"

namespace vt::devices {

namespace {

constexpr int32_t kKey71 = 4;
constexpr int32_t kKeyMute = 5;

struct HeadsetTexts {
    const wchar_t* key71;
    const wchar_t* mute;
};

// The HV210's mute text is spelled as the desktop application's log readers
// expect it.
constexpr HeadsetTexts kTexts[] = {
    {L"HV150 7.1 press", L"HV150 mute press"},
    {L"HV210 7.1 press", L"HN210 mute press"},
    {L"HV230 7.1 press", L"HV230 mute press"},
};

template <int I>
void VT_STDCALL HeadsetKey(int32_t keyCode, int32_t) {
    const CallbackScope scope;
    DeviceLayer* layer = scope.layer();
    if (layer == nullptr) {
        return;
    }
    try {  // nothing may unwind into the library's frames
        if (keyCode == kKey71) {
            layer->LogInformation(kTexts[I].key71);
        } else if (keyCode == kKeyMute) {
            layer->LogInformation(kTexts[I].mute);
        }
    } catch (...) {
    }
}

template <int I>
void SetUpHeadset(DeviceLayer&, HeadsetDevice& device) {
    device.RegisterKeyCallback(&HeadsetKey<I>);
    int32_t on = 1;
    device.SetKeyNotify(&on);
}

constexpr ModelSpec<HeadsetDevice> kSpecHV150{
    &TwLinkApi::hv150, &DeviceSlots::hv150, 3000,
    &SetUpHeadset<0>,  L"CreateHV150",      L"CreateHV150 : Fail to create the HV150"};
// The HV210 retries at once.
constexpr ModelSpec<HeadsetDevice> kSpecHV210{
    &TwLinkApi::hv210, &DeviceSlots::hv210, 0,
    &SetUpHeadset<1>,  L"CreateHV210",      L"CreateHV210 : Fail to create the HV210"};
constexpr ModelSpec<HeadsetDevice> kSpecHV230{
    &TwLinkApi::hv230, &DeviceSlots::hv230, 3000,
    &SetUpHeadset<2>,  L"CreateHV230",      L"CreateHV230 : Fail to create the HV230"};

}  // namespace

const ModelEntry kHV150 = EntryFor<kSpecHV150>();
const ModelEntry kHV210 = EntryFor<kSpecHV210>();
const ModelEntry kHV230 = EntryFor<kSpecHV230>();

}  // namespace vt::devices
