// Our sensor SDK: the core's entries over the readings of the machine or
// of the readings file; every other identifier answers null.
#include "export.h"
#include "readings.h"
#include "sensor_core.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <oleauto.h>
#endif

namespace {

#if defined(_WIN32)
// The caller frees names with SysFreeString: a BSTR of the name's bytes.
vt::telemetry::SdkString AllocateName(const std::string& name) {
    return reinterpret_cast<vt::telemetry::SdkString>(
        ::SysAllocStringByteLen(name.c_str(), static_cast<UINT>(name.size())));
}
#endif

[[maybe_unused]] const bool kServing = [] {
    vtsensors::ServeCurrentReadings();
#if defined(_WIN32)
    vtsensors::State().allocateName = &AllocateName;
#endif
    return true;
}();

}  // namespace

VTSENSORS_EXPORT void* VT_CDECL QueryInterface(uint32_t id) {
    return vtsensors::QueryInterface(id);
}
