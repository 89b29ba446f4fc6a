// Every model the service drives, one row each: the one place a model's
// facts are written down. The rows give the device layer its routing by
// product id, its slots, each creation with its texts and set-up, and the
// start-up clearing; the pipe the "mod" names that reach a keyboard; the
// device-library simulator the ids and factory of a device attached by
// model name; and the catalogue its compile-time check that each driven id
// stands there under the model's name.
//
// A row is MODEL(slot, Interface, factory, SetUp, facts...):
//   slot       the DeviceSlots member that holds the open object, and the
//              model's name in code (Model::slot)
//   Interface  the device interface the factory returns
//   factory    the library export that opens it (a TwLinkApi member)
//   SetUp      what runs once it is open: NoSetUp, KeyboardSetUp,
//              HeadsetSetUp, RX420SetUp, LQ120SetUp or CS900SetUp
//   facts...   a ModelFacts, field by field
//
// Adding a model is adding a row (and, for a new factory, its export in
// twlink.h and twlink_loader.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// clang-format off
#define VT_DRIVEN_MODELS(MODEL)                                                                   \
    MODEL(hv150, HeadsetDevice, hv150, HeadsetSetUp,                                              \
          .name = "HV150", .productIds = {0x01C7}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .created = L"CreateHV150", .failed = L"CreateHV150 : Fail to create the HV150",         \
          .notices = {"HV150 7.1 press", "HV150 mute press"})                                     \
    /* The HV210 retries at once; its mute text is spelled as the desktop                         \
       application's log readers expect it. */                                                    \
    MODEL(hv210, HeadsetDevice, hv210, HeadsetSetUp,                                              \
          .name = "HV210", .productIds = {0x0111}, .retryPauseMs = 0, .clearedAtStart = true,     \
          .created = L"CreateHV210", .failed = L"CreateHV210 : Fail to create the HV210",         \
          .notices = {"HV210 7.1 press", "HN210 mute press"})                                     \
    MODEL(hv230, HeadsetDevice, hv230, HeadsetSetUp,                                              \
          .name = "HV230", .productIds = {0x0113}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .created = L"CreateHV230", .failed = L"CreateHV230 : Fail to create the HV230",         \
          .notices = {"HV230 7.1 press", "HV230 mute press"})                                     \
    MODEL(kb303, KeyboardDeviceV2, kb303, KeyboardSetUp,                                          \
          .name = "KB303", .productIds = {0x014F}, .retryPauseMs = 3000, .pipeName = "kb303",     \
          .created = L"CreateKB303", .failed = L"CreateKB303 : Fail to create the KB303",         \
          .notices = {"getKB303 is call !!", "kb303 profile change", "kb303 effect change",       \
                      "wrong message ?"})                                                         \
    MODEL(kb401, KeyboardDeviceV2, kb401, KeyboardSetUp,                                          \
          .name = "KB401", .productIds = {0x0157, 0x0159}, .retryPauseMs = 3000,                  \
          .pipeName = "kb401",                                                                    \
          .created = L"CreateKB401", .failed = L"CreateKB401 : Fail to create the KB401",         \
          .notices = {"getKB401 is call !!", "kb401 profile change", "kb401 effect change",       \
                      "wrong message ?"})                                                         \
    /* The KB403B and KB403W stay silent on codes they do not know. */                            \
    MODEL(kb403b, KeyboardDeviceV3, kb403, KeyboardSetUp,                                         \
          .name = "KB403B", .productIds = {0x0149}, .retryPauseMs = 3000, .pipeName = "kb403b",   \
          .created = L"CreateKB403b", .failed = L"CreateKB403b : Fail to create the KB403",       \
          .notices = {"getKB403b is call !!", "kb403b profile change", "kb403b effect change"})   \
    MODEL(kb403w, KeyboardDeviceV3, kb403, KeyboardSetUp,                                         \
          .name = "KB403W", .productIds = {0x014B}, .retryPauseMs = 3000, .pipeName = "kb403w",   \
          .created = L"CreateKB403w", .failed = L"CreateKB403w : Fail to create the KB403",       \
          .notices = {"getKB403w is call !!", "kb403w profile change", "kb403w effect change"})   \
    MODEL(kb405, KeyboardDeviceV3, kb406, KeyboardSetUp,                                          \
          .name = "KB405", .productIds = {0x015D}, .retryPauseMs = 3000, .pipeName = "kb405",     \
          .created = L"CreateKB405", .failed = L"CreateKB405 : Fail to create the KB405",         \
          .notices = {"getKB405 is call !!", "kb405 profile change", "kb405 effect change",       \
                      "wrong message ?"})                                                         \
    MODEL(kb406, KeyboardDeviceV3, kb406, KeyboardSetUp,                                          \
          .name = "KB406", .productIds = {0x01AB}, .retryPauseMs = 3000, .pipeName = "kb406",     \
          .created = L"CreateKB406", .failed = L"CreateKB406 : Fail to create the KB406",         \
          .notices = {"getKB406 is call !!", "kb406 profile change", "kb406 effect change",       \
                      "wrong message ?"})                                                         \
    MODEL(kb407, KeyboardDeviceV3, kb406, KeyboardSetUp,                                          \
          .name = "KB407", .productIds = {0x015B}, .retryPauseMs = 3000, .pipeName = "kb407",     \
          .created = L"CreateKB407", .failed = L"CreateKB407 : Fail to create the KB407",         \
          .notices = {"getKB407 is call !!", "kb407 profile change", "kb407 effect change",       \
                      "wrong message ?"})                                                         \
    MODEL(kb505, KeyboardDevice, kb505, NoSetUp,                                                  \
          .name = "KB505", .productIds = {0x0147}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .pipeName = "kb505",                                                                    \
          .created = L"CreateKB505", .failed = L"CreateKB505 : Fail to create the KB505")         \
    MODEL(kb507, KeyboardDevice, kb507, NoSetUp,                                                  \
          .name = "KB507", .productIds = {0x0145}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .pipeName = "kb507",                                                                    \
          .created = L"CreateKB507", .failed = L"CreateKB507 : Fail to create the KB507")         \
    MODEL(kb709, KeyboardDeviceV2, kb709, KeyboardSetUp,                                          \
          .name = "KB709", .productIds = {0x016D}, .dongle = Model::kb709Dongle,                  \
          .retryPauseMs = 3000, .pipeName = "kb709",                                              \
          .created = L"CreateKB709", .failed = L"CreateKB709 : Fail to create the KB709",         \
          .notices = {"getKB709 is call !!", "kb709 profile change", "kb709 effect change",       \
                      "wrong message ?"})                                                         \
    /* The wireless dongle of the KB709 and of the KB711: no ids of its own. */                   \
    MODEL(kb709Dongle, KeyboardDeviceV2, kb709, KeyboardSetUp,                                    \
          .name = "KB709_DONGLE", .retryPauseMs = 3000, .pipeName = "kb709_dongle",               \
          .created = L"CreateKB709Dongle",                                                        \
          .failed = L"CreateKB709Dongle : Fail to create the KB709 DONGLE",                       \
          .notices = {"getKB709 dongle is call !!", "kb709 profile change",                       \
                      "kb709 effect change", "wrong message ?"})                                  \
    MODEL(kb711, KeyboardDeviceV2, kb709, KeyboardSetUp,                                          \
          .name = "KB711", .productIds = {0x016F}, .dongle = Model::kb709Dongle,                  \
          .retryPauseMs = 3000, .pipeName = "kb711",                                              \
          .created = L"CreateKB711", .failed = L"CreateKB711 : Fail to create the KB711",         \
          .notices = {"getKB711 is call !!", "kb711 profile change", "kb711 effect change",       \
                      "wrong message ?"})                                                         \
    MODEL(lq120, LQ120Device, lq120, LQ120SetUp,                                                  \
          .name = "LQ120", .productIds = {0x0155}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .created = L"CreateLQ120", .failed = L"CreateLQ120 : Fail to create the LQ120")         \
    MODEL(cs900, CS900Device, cs900, CS900SetUp,                                                  \
          .name = "CS900", .productIds = {0x01C1}, .retryPauseMs = 3000, .clearedAtStart = true,  \
          .created = L"CreateCS900", .failed = L"CreateCS900 : Fail to create the CS900")         \
    /* The RX420 retries at once. */                                                              \
    MODEL(rx420, RX420Device, rx420, RX420SetUp,                                                  \
          .name = "RX420", .productIds = {0x011B}, .retryPauseMs = 0, .clearedAtStart = true,     \
          .created = L"CreateRX420", .failed = L"CreateRX420 : Fail to create the RX420")
// clang-format on

namespace vt::devices {

#define VT_MODEL_ENUMERATOR(slot, ...) slot,
enum class Model : uint8_t { VT_DRIVEN_MODELS(VT_MODEL_ENUMERATOR) kNone };
#undef VT_MODEL_ENUMERATOR

struct ModelFacts {
    std::string_view name{};  // as the product line names it
    // The maker's product ids that open it; 0: none.
    std::array<uint16_t, 2> productIds{};
    // The model a path with "&ISDONGLE" opens for these ids; kNone: the ids
    // have no dongle form.
    Model dongle = Model::kNone;
    uint32_t retryPauseMs = 0;    // before the factory's second attempt; 0: at once
    bool clearedAtStart = false;  // the start-up forgets its object
    // The "mod" whose "setSystemStatusEffect" reaches it over the pipe; the
    // cooler and the case have commands of their own.
    std::string_view pipeName{};
    std::wstring_view created{};  // the information entry of a creation
    std::wstring_view failed{};   // ... and of one that failed twice
    // What its callback reports. Keyboards: the first line, then the line
    // for code 0 (profile) and for code 1 (effect), and the one for any
    // other code ("": none). Headsets: the 7.1 key, then the mute key.
    std::array<std::string_view, 4> notices{};
};

struct ModelRow {
    Model model;
    std::string_view factory;  // the export's name
    ModelFacts facts;
};

#define VT_MODEL_ROW(slot, Interface, factory, SetUp, ...) \
    ModelRow{Model::slot, #factory, ModelFacts{__VA_ARGS__}},
inline constexpr ModelRow kModelRows[] = {VT_DRIVEN_MODELS(VT_MODEL_ROW)};
#undef VT_MODEL_ROW

constexpr const ModelFacts& FactsOf(Model model) {
    return kModelRows[static_cast<size_t>(model)].facts;
}

// The RX410, the OLED mouse: not opened at discovery, only its presence is
// followed (the OLED job opens it).
inline constexpr uint16_t kRX410ProductId = 0x006B;
inline constexpr std::string_view kRX410Factory = "rx410";

}  // namespace vt::devices
