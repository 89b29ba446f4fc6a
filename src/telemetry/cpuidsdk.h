// The contract with the hardware-monitoring SDK cpuidsdk.dll (libcpuidsdk.so
// on Linux).
//
// The SDK exports one name, "QueryInterface": given a 32-bit identifier it
// answers the address of one entry point, or null. The service asks for the
// whole table once, always in the order of kSdkEntryIds, and tests every
// entry for null before it calls it. All entries and the export are
// caller-cleaned (VT_CDECL).
//
// Sensor names come back as string handles that the SDK allocated: a BSTR
// holding 8-bit text on Windows, malloc'd text on Linux. The caller frees
// them (Libraries::FreeComponentString).
#pragma once

#include <array>
#include <cstdint>

#include "platform/callconv.h"

namespace vt::telemetry {

using SdkInstance = void*;
using SdkString = char*;

using SdkQueryInterfaceFn = void*(VT_CDECL*)(uint32_t id);
using SdkCreateFn = SdkInstance(VT_CDECL*)();
using SdkDestroyFn = void(VT_CDECL*)(SdkInstance instance);
// Nonzero on success; `status` and `detail` say what went wrong.
using SdkStartFn = int32_t(VT_CDECL*)(SdkInstance instance, const char* folder,
                                      const char* fileName, int32_t flags, int32_t* status,
                                      int32_t* detail);
using SdkCloseFn = void(VT_CDECL*)(SdkInstance instance);
// Takes a fresh set of readings.
using SdkRefreshFn = void(VT_CDECL*)(SdkInstance instance);
using SdkDeviceCountFn = int32_t(VT_CDECL*)(SdkInstance instance);
using SdkDeviceClassFn = int32_t(VT_CDECL*)(SdkInstance instance, int32_t device);
using SdkSensorCountFn = int32_t(VT_CDECL*)(SdkInstance instance, int32_t device,
                                            int32_t sensorClass);
// Nonzero when the sensor exists. The four extra out-values are the SDK's
// own and unused here.
using SdkSensorInfoFn = int32_t(VT_CDECL*)(SdkInstance instance, int32_t device, int32_t sensor,
                                           int32_t sensorClass, int32_t* extra1, SdkString* name,
                                           int32_t* extra2, float* value, int32_t* extra3,
                                           int32_t* extra4);

// The SDK's identifiers of the entries the service uses.
inline constexpr uint32_t kSdkCreateId = 0x985D30BA;
inline constexpr uint32_t kSdkDestroyId = 0x2C0E581C;
inline constexpr uint32_t kSdkStartId = 0x1EB23D64;
inline constexpr uint32_t kSdkCloseId = 0xA5AB4B56;
inline constexpr uint32_t kSdkRefreshId = 0x560CAC19;
inline constexpr uint32_t kSdkDeviceCountId = 0x74FAE9F5;
inline constexpr uint32_t kSdkDeviceClassId = 0x82A90552;
inline constexpr uint32_t kSdkSensorCountId = 0x55E4ABC9;
inline constexpr uint32_t kSdkSensorInfoId = 0x30BE617C;

inline constexpr int kSdkEntryCount = 173;

// Positions of the used entries in the table.
enum SdkSlot : int {
    kSlotCreate,
    kSlotDestroy,
    kSlotStart,
    kSlotClose,
    kSlotRefresh,
    kSlotDeviceCount,
    kSlotDeviceClass,
    kSlotSensorCount,
    kSlotSensorInfo,
    kUsedSlotCount
};

// The table in the order it is filled: the used entries first, then the
// SDK's others, which this service never calls; our SDK stand-in answers
// null for those (identifiers 0x43440000 + position).
inline constexpr std::array<uint32_t, kSdkEntryCount> kSdkEntryIds = [] {
    std::array<uint32_t, kSdkEntryCount> ids{};
    ids[kSlotCreate] = kSdkCreateId;
    ids[kSlotDestroy] = kSdkDestroyId;
    ids[kSlotStart] = kSdkStartId;
    ids[kSlotClose] = kSdkCloseId;
    ids[kSlotRefresh] = kSdkRefreshId;
    ids[kSlotDeviceCount] = kSdkDeviceCountId;
    ids[kSlotDeviceClass] = kSdkDeviceClassId;
    ids[kSlotSensorCount] = kSdkSensorCountId;
    ids[kSlotSensorInfo] = kSdkSensorInfoId;
    for (int i = kUsedSlotCount; i < kSdkEntryCount; ++i) {
        ids[static_cast<size_t>(i)] = 0x43440000u + static_cast<uint32_t>(i);
    }
    return ids;
}();

// The start flags the service passes: every monitoring feature.
inline constexpr int32_t kSdkStartFlags = 0x7FFFFFFF;
// The status the service assumes when the SDK has no start entry.
inline constexpr int32_t kSdkStatusNoStart = 0x10;
inline constexpr int32_t kSdkStatusDriverError = 2;
inline constexpr int32_t kSdkStatusMutexLocked = 8;

// Device classes.
inline constexpr int32_t kClassProcessor = 0x4;
inline constexpr int32_t kClassDrive = 0x10;
inline constexpr int32_t kClassDisplayAdapter = 0x20;
inline constexpr int32_t kClassBattery = 0x80;
inline constexpr int32_t kClassMainboard = 0x400;
inline constexpr int32_t kClassMemoryModule = 0x800;
inline constexpr int32_t kClassPsu = 0x1000;
inline constexpr int32_t kClassWatercooler = 0x4000;

// Sensor classes; values in the SDK's units (V, degrees C, RPM, percent,
// MHz).
inline constexpr int32_t kSensorVoltage = 0x1000;
inline constexpr int32_t kSensorTemperature = 0x2000;
inline constexpr int32_t kSensorFan = 0x3000;
inline constexpr int32_t kSensorUtilisation = 0xE000;
inline constexpr int32_t kSensorClock = 0xF000;

// Sensor names are at most this many bytes.
inline constexpr int kSdkNameMax = 127;

}  // namespace vt::telemetry
