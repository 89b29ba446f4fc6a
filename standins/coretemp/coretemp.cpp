// Our temperature library: per-core CPU and per-GPU temperatures from the
// machine or from the readings file, read afresh at every call.
#include <cstdint>

#include "export.h"
#include "readings.h"
#include "telemetry/coretemp.h"

namespace {

namespace t = vt::telemetry;

vtsensors::Readings Now() {
    static vtsensors::CpuTimes previous;
    return vtsensors::CurrentReadings(vtsensors::ModuleFolder(), previous);
}

uint8_t Deliver(const vtsensors::TemperatureList& list, int32_t* count, int32_t* values,
                size_t capacity) {
    if (!list.delivered || count == nullptr || values == nullptr) {
        return 0;
    }
    *count = list.count;
    for (size_t i = 0; i < list.values.size() && i < capacity; ++i) {
        values[i] = list.values[i];
    }
    return 1;
}

}  // namespace

VTSENSORS_EXPORT uint8_t VT_CDECL GetCpuTemp(int32_t* count, int32_t* values) {
    return Deliver(Now().cpu, count, values, t::kCoreTempCpuValues);
}

VTSENSORS_EXPORT uint8_t VT_CDECL GetGpuTemp(int32_t* count, int32_t* values) {
    return Deliver(Now().gpu, count, values, t::kCoreTempGpuValues);
}
