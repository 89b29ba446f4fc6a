// The twelve keyboard handlers: each registers its own notification callback,
// which prints what the keyboard reported.
#include <string>

#include "devices/models.h"

namespace vt::devices {

namespace {

struct KeyboardTexts {
    const char* firstLine;
    const char* profileChanged;
    const char* effectChanged;
    bool reportsWrongMessage;  // KB403B and KB403W stay silent on other codes
};

// One row per callback; the dongle's callback prints the KB709's code texts.
constexpr KeyboardTexts kTexts[] = {
    {"getKB709 is call !!", "kb709 profile change", "kb709 effect change", true},
    {"getKB709 dongle is call !!", "kb709 profile change", "kb709 effect change", true},
    {"getKB711 is call !!", "kb711 profile change", "kb711 effect change", true},
    {"getKB303 is call !!", "kb303 profile change", "kb303 effect change", true},
    {"getKB401 is call !!", "kb401 profile change", "kb401 effect change", true},
    {"getKB403b is call !!", "kb403b profile change", "kb403b effect change", false},
    {"getKB403w is call !!", "kb403w profile change", "kb403w effect change", false},
    {"getKB405 is call !!", "kb405 profile change", "kb405 effect change", true},
    {"getKB406 is call !!", "kb406 profile change", "kb406 effect change", true},
    {"getKB407 is call !!", "kb407 profile change", "kb407 effect change", true},
};
enum Index {
    kIdx709,
    kIdx709Dongle,
    kIdx711,
    kIdx303,
    kIdx401,
    kIdx403B,
    kIdx403W,
    kIdx405,
    kIdx406,
    kIdx407
};

// The library calls back with no context, so each keyboard gets its own
// function, bound at compile time to its texts.
template <int I>
void VT_STDCALL KeyboardNotify(int32_t* code) {
    const CallbackScope scope;
    DeviceLayer* layer = scope.layer();
    if (layer == nullptr || code == nullptr) {
        return;
    }
    const KeyboardTexts& t = kTexts[I];
    try {  // nothing may unwind into the library's frames
        layer->PrintLine(t.firstLine);
        if (*code == 0) {
            layer->PrintLine(t.profileChanged);
        } else if (*code == 1) {
            layer->PrintLine(t.effectChanged);
        } else if (t.reportsWrongMessage) {
            layer->PrintLine("wrong message ?");
        }
    } catch (...) {
    }
}

template <class Device, int I>
void RegisterNotify(DeviceLayer&, Device& device) {
    device.RegisterNotifyCallback(&KeyboardNotify<I>);
}

constexpr uint32_t kRetryPauseMs = 3000;

constexpr ModelSpec<KeyboardDevice> kSpecKB505{
    &TwLinkApi::kb505, &DeviceSlots::kb505, kRetryPauseMs,
    nullptr,           L"CreateKB505",      L"CreateKB505 : Fail to create the KB505"};
constexpr ModelSpec<KeyboardDevice> kSpecKB507{
    &TwLinkApi::kb507, &DeviceSlots::kb507, kRetryPauseMs,
    nullptr,           L"CreateKB507",      L"CreateKB507 : Fail to create the KB507"};
constexpr ModelSpec<KeyboardDeviceV2> kSpecKB709{
    &TwLinkApi::kb709, &DeviceSlots::kb709,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV2, kIdx709>,
    L"CreateKB709",    L"CreateKB709 : Fail to create the KB709"};
constexpr ModelSpec<KeyboardDeviceV2> kSpecKB709Dongle{
    &TwLinkApi::kb709,    &DeviceSlots::kb709Dongle,
    kRetryPauseMs,        &RegisterNotify<KeyboardDeviceV2, kIdx709Dongle>,
    L"CreateKB709Dongle", L"CreateKB709Dongle : Fail to create the KB709 DONGLE"};
constexpr ModelSpec<KeyboardDeviceV2> kSpecKB711{
    &TwLinkApi::kb709, &DeviceSlots::kb711,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV2, kIdx711>,
    L"CreateKB711",    L"CreateKB711 : Fail to create the KB711"};
constexpr ModelSpec<KeyboardDeviceV2> kSpecKB303{
    &TwLinkApi::kb303, &DeviceSlots::kb303,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV2, kIdx303>,
    L"CreateKB303",    L"CreateKB303 : Fail to create the KB303"};
constexpr ModelSpec<KeyboardDeviceV2> kSpecKB401{
    &TwLinkApi::kb401, &DeviceSlots::kb401,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV2, kIdx401>,
    L"CreateKB401",    L"CreateKB401 : Fail to create the KB401"};
constexpr ModelSpec<KeyboardDeviceV3> kSpecKB403B{
    &TwLinkApi::kb403, &DeviceSlots::kb403b,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV3, kIdx403B>,
    L"CreateKB403b",   L"CreateKB403b : Fail to create the KB403"};
constexpr ModelSpec<KeyboardDeviceV3> kSpecKB403W{
    &TwLinkApi::kb403, &DeviceSlots::kb403w,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV3, kIdx403W>,
    L"CreateKB403w",   L"CreateKB403w : Fail to create the KB403"};
constexpr ModelSpec<KeyboardDeviceV3> kSpecKB405{
    &TwLinkApi::kb406, &DeviceSlots::kb405,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV3, kIdx405>,
    L"CreateKB405",    L"CreateKB405 : Fail to create the KB405"};
constexpr ModelSpec<KeyboardDeviceV3> kSpecKB406{
    &TwLinkApi::kb406, &DeviceSlots::kb406,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV3, kIdx406>,
    L"CreateKB406",    L"CreateKB406 : Fail to create the KB406"};
constexpr ModelSpec<KeyboardDeviceV3> kSpecKB407{
    &TwLinkApi::kb406, &DeviceSlots::kb407,
    kRetryPauseMs,     &RegisterNotify<KeyboardDeviceV3, kIdx407>,
    L"CreateKB407",    L"CreateKB407 : Fail to create the KB407"};

}  // namespace

const ModelEntry kKB505 = EntryFor<kSpecKB505>();
const ModelEntry kKB507 = EntryFor<kSpecKB507>();
const ModelEntry kKB709 = EntryFor<kSpecKB709>();
const ModelEntry kKB709Dongle = EntryFor<kSpecKB709Dongle>();
const ModelEntry kKB711 = EntryFor<kSpecKB711>();
const ModelEntry kKB303 = EntryFor<kSpecKB303>();
const ModelEntry kKB401 = EntryFor<kSpecKB401>();
const ModelEntry kKB403B = EntryFor<kSpecKB403B>();
const ModelEntry kKB403W = EntryFor<kSpecKB403W>();
const ModelEntry kKB405 = EntryFor<kSpecKB405>();
const ModelEntry kKB406 = EntryFor<kSpecKB406>();
const ModelEntry kKB407 = EntryFor<kSpecKB407>();

}  // namespace vt::devices
