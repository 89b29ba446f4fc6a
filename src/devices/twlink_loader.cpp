#include "devices/twlink_loader.h"

namespace vt::devices {

namespace {

// The one place where an export's address becomes a typed function pointer.
template <class Fn>
bool Resolve(platform::DynamicLibrary& library, const char* name, Fn& out, std::string& missing) {
    void* address = library.Symbol(name);
    if (address == nullptr) {
        if (missing.empty()) {
            missing = name;
        }
        return false;
    }
    out = reinterpret_cast<Fn>(address);
    return true;
}

}  // namespace

std::optional<TwLinkApi> ResolveTwLink(platform::DynamicLibrary& library, std::string& missing) {
    TwLinkApi api;
    missing.clear();
    bool ok = true;
    ok &= Resolve(library, "twlink_background", api.twlink_background, missing);
    ok &= Resolve(library, "twlink_init", api.twlink_init, missing);
    ok &= Resolve(library, "devInfo", api.devInfo, missing);
    ok &= Resolve(library, "registerDevNotify", api.registerDevNotify, missing);
    ok &= Resolve(library, "sysInfo", api.sysInfo, missing);
    ok &= Resolve(library, "kb505", api.kb505, missing);
    ok &= Resolve(library, "kb507", api.kb507, missing);
    ok &= Resolve(library, "kb709", api.kb709, missing);
    ok &= Resolve(library, "kb303", api.kb303, missing);
    ok &= Resolve(library, "kb401", api.kb401, missing);
    ok &= Resolve(library, "kb403", api.kb403, missing);
    ok &= Resolve(library, "kb406", api.kb406, missing);
    ok &= Resolve(library, "hv150", api.hv150, missing);
    ok &= Resolve(library, "hv210", api.hv210, missing);
    ok &= Resolve(library, "hv230", api.hv230, missing);
    ok &= Resolve(library, "lq120", api.lq120, missing);
    ok &= Resolve(library, "cs900", api.cs900, missing);
    ok &= Resolve(library, "rx420", api.rx420, missing);
    ok &= Resolve(library, "rx410", api.rx410, missing);
    if (!ok) {
        return std::nullopt;
    }
    return api;
}

}  // namespace vt::devices
