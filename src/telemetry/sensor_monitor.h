// The pipe thread's window on the PC's hardware readings: the monitoring
// SDK (CPU, GPU and mainboard sensors) and the temperature library
// (per-core CPU and per-GPU temperatures).
//
// One object, owned and used by the pipe thread only; no locking. Init once,
// then any number of readings. Releasing it unloads what it loaded.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "telemetry/coretemp.h"
#include "telemetry/cpuidsdk.h"

namespace vt::telemetry {

inline constexpr platform::LibraryName kSdkLibrary{L"cpuidsdk.dll", "libcpuidsdk.so"};
inline constexpr platform::LibraryName kCoreTempLibrary{L"tw-core-temp.dll", "libtw-core-temp.so"};
// The file name the SDK is told it was loaded as.
inline constexpr char kSdkFileName[] = "cpuidsdk.dll";

inline constexpr int kCpuTemperatureCount = 16;
inline constexpr int kGpuTemperatureCount = 4;
inline constexpr int kBoardFanCount = 6;

// What "getsysinfo" reports. Fields of a device that was not found keep
// what was there before.
struct SensorSnapshot {
    int32_t cpuTemperature;
    int32_t cpuUtilisation;
    int32_t boardFan[kBoardFanCount];
    float cpuClock;
    float cpuVoltage;
    int32_t gpuTemperature;
    int32_t gpuUtilisation;
    int32_t gpuFan;
    float gpuClock;
    float gpuVoltage;
};
static_assert(sizeof(SensorSnapshot) == 15 * 4);

// The SDK's entry-point table, filled through its "QueryInterface".
class CPUIDSDK {
  public:
    CPUIDSDK() = default;
    CPUIDSDK(const CPUIDSDK&) = delete;
    CPUIDSDK& operator=(const CPUIDSDK&) = delete;
    virtual ~CPUIDSDK() = default;

    // Asks for every entry, in table order; a null query leaves all null.
    void Fill(SdkQueryInterfaceFn query);

    SdkCreateFn Create() const { return Entry<SdkCreateFn>(kSlotCreate); }
    SdkDestroyFn Destroy() const { return Entry<SdkDestroyFn>(kSlotDestroy); }
    SdkStartFn Start() const { return Entry<SdkStartFn>(kSlotStart); }
    SdkCloseFn Close() const { return Entry<SdkCloseFn>(kSlotClose); }
    SdkRefreshFn Refresh() const { return Entry<SdkRefreshFn>(kSlotRefresh); }
    SdkDeviceCountFn DeviceCount() const { return Entry<SdkDeviceCountFn>(kSlotDeviceCount); }
    SdkDeviceClassFn DeviceClass() const { return Entry<SdkDeviceClassFn>(kSlotDeviceClass); }
    SdkSensorCountFn SensorCount() const { return Entry<SdkSensorCountFn>(kSlotSensorCount); }
    SdkSensorInfoFn SensorInfo() const { return Entry<SdkSensorInfoFn>(kSlotSensorInfo); }

    SdkInstance instance = nullptr;
    void* table[kSdkEntryCount] = {};

  private:
    // The one place where a table address becomes a typed entry point.
    template <class Fn>
    Fn Entry(int slot) const {
        return reinterpret_cast<Fn>(table[slot]);
    }
};

class SensorMonitor {
  public:
    SensorMonitor(platform::Libraries& libraries, platform::Folders& folders,
                  platform::Console& console, platform::EventLog& eventLog);
    SensorMonitor(const SensorMonitor&) = delete;
    SensorMonitor& operator=(const SensorMonitor&) = delete;
    ~SensorMonitor();

    // 0 when the SDK runs and its devices are known, else -1. Once.
    int Init();
    // Loads the temperature library: from the program folder, else (only
    // when it is not there) from the system's library folder. True when
    // both entries were found.
    bool LoadTemperatureLibrary();
    // False only when a library call raised an exception. A count is 0
    // when its call reported failure; at most 16 and 4 values are copied.
    bool QueryTemperatures(int32_t* cpuCount, uint32_t cpuTemps[kCpuTemperatureCount],
                           int32_t* gpuCount, uint32_t gpuTemps[kGpuTemperatureCount]);
    // -1 without an SDK table, else 0.
    int ReadSensors(SensorSnapshot* out);
    // The average of the non-zero readings of a class (sensorIndex -1), or
    // one sensor's reading (sensorIndex >= 0).
    float ReadSensorValue(int32_t device, int32_t sensorClass, const char* nameFilter,
                          int32_t sensorIndex);

    std::unique_ptr<platform::DynamicLibrary> temperatureLibrary;
    GetCpuTempFn getCpuTemp = nullptr;
    GetGpuTempFn getGpuTemp = nullptr;
    std::unique_ptr<platform::DynamicLibrary> sdkLibrary;
    std::unique_ptr<CPUIDSDK> sdk;
    int32_t displayAdapterIndex = -1;
    int32_t processorIndex = -1;
    int32_t mainboardIndex = -1;

  private:
    void Log(platform::EventType type, std::wstring_view text);
    void ReportStartStatus(int32_t status, int32_t detail);
    void EnumerateDevices();

    platform::Libraries& libraries_;
    platform::Folders& folders_;
    platform::Console& console_;
    platform::EventLog& eventLog_;
};

}  // namespace vt::telemetry
