// The contract with the temperature library tw-core-temp.dll
// (libtw-core-temp.so on Linux): two caller-cleaned exports, looked up by
// name. Each fills a count and a caller-zeroed buffer of temperatures in
// whole degrees Celsius and answers a one-byte boolean: nonzero when
// readings were delivered. A value of 0 ends the readings.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

namespace vt::telemetry {

inline constexpr int kCoreTempCpuValues = 64;  // 256 bytes
inline constexpr int kCoreTempGpuValues = 16;  // 64 bytes

using GetCpuTempFn = uint8_t(VT_CDECL*)(int32_t* count, int32_t values[kCoreTempCpuValues]);
using GetGpuTempFn = uint8_t(VT_CDECL*)(int32_t* count, int32_t values[kCoreTempGpuValues]);

static_assert(sizeof(int32_t[kCoreTempCpuValues]) == 256);
static_assert(sizeof(int32_t[kCoreTempGpuValues]) == 64);

}  // namespace vt::telemetry
