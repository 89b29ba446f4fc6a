// Our temperature library: per-core CPU and per-GPU temperatures from the
// machine or from the readings file, read afresh at every call.
#include "export.h"
#include "readings.h"
#include "sensor_core.h"

namespace {

[[maybe_unused]] const bool kServing = (vtsensors::ServeCurrentReadings(), true);

}  // namespace

VTSENSORS_EXPORT uint8_t VT_CDECL GetCpuTemp(int32_t* count, int32_t* values) {
    return vtsensors::GetCpuTemp(count, values);
}

VTSENSORS_EXPORT uint8_t VT_CDECL GetGpuTemp(int32_t* count, int32_t* values) {
    return vtsensors::GetGpuTemp(count, values);
}
