// The library's exports: each starts the simulator on first use, then does
// the core's work for it.
#include "sim.h"

#ifdef _WIN32
#define TWSIM_EXPORT __declspec(dllexport)
#else
#define TWSIM_EXPORT __attribute__((visibility("default")))
#endif

namespace dev = vt::devices;

namespace {

const dev::TwLinkApi& Started() {
    static const dev::TwLinkApi api = [] {
        twsim::Simulator::Get();
        return twsim::Api();
    }();
    return api;
}

}  // namespace

extern "C" {

TWSIM_EXPORT void VT_CDECL twlink_background(int32_t on) {
    Started().twlink_background(on);
}
TWSIM_EXPORT void VT_CDECL twlink_init() {
    Started().twlink_init();
}
TWSIM_EXPORT int32_t VT_CDECL devInfo(dev::DevInfoRecord* buffer) {
    return Started().devInfo(buffer);
}
TWSIM_EXPORT void VT_CDECL registerDevNotify(dev::DevNotifyCallback callback) {
    Started().registerDevNotify(callback);
}
TWSIM_EXPORT dev::SystemInfoSource* VT_CDECL sysInfo() {
    return Started().sysInfo();
}

#define TWSIM_FACTORY(name, Interface)                             \
    TWSIM_EXPORT dev::Interface* VT_CDECL name(const char* path) { \
        return Started().name(path);                               \
    }
TWSIM_FACTORY(kb505, KeyboardDevice)
TWSIM_FACTORY(kb507, KeyboardDevice)
TWSIM_FACTORY(kb709, KeyboardDeviceV2)
TWSIM_FACTORY(kb303, KeyboardDeviceV2)
TWSIM_FACTORY(kb401, KeyboardDeviceV2)
TWSIM_FACTORY(kb403, KeyboardDeviceV3)
TWSIM_FACTORY(kb406, KeyboardDeviceV3)
TWSIM_FACTORY(hv150, HeadsetDevice)
TWSIM_FACTORY(hv210, HeadsetDevice)
TWSIM_FACTORY(hv230, HeadsetDevice)
TWSIM_FACTORY(lq120, LQ120Device)
TWSIM_FACTORY(cs900, CS900Device)
TWSIM_FACTORY(rx420, RX420Device)
#undef TWSIM_FACTORY

TWSIM_EXPORT dev::RX410Device* VT_CDECL rx410(const dev::DevInfoRecord* record) {
    return Started().rx410(record);
}

}  // extern "C"

// The exports must have exactly the types the service resolves them as.
namespace {
#define TWSIM_CHECK(name) \
    static_assert(std::is_same_v<decltype(&::name), decltype(dev::TwLinkApi::name)>, #name);
TWSIM_EXPORT_NAMES(TWSIM_CHECK)
#undef TWSIM_CHECK
}  // namespace
