#include "telemetry/sensor_monitor.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "common/outside_calls.h"
#include "common/service_event.h"

namespace vt::telemetry {

using platform::EventType;

namespace {

// Below this a reading counts as no reading: it never lowers an average.
constexpr double kNoReading = 0.000001;

// Toward zero; a reading no int32 can hold (or NaN) from a broken SDK
// becomes 0 rather than undefined behaviour.
int32_t Truncate(float value) {
    if (!(std::fabs(value) < static_cast<float>(std::numeric_limits<int32_t>::max()))) {
        return 0;
    }
    return static_cast<int32_t>(value);
}

bool ContainsIgnoringCase(const char* text, const char* part) {
    std::string a(text), b(part);
    for (char& c : a) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (char& c : b) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return a.find(b) != std::string::npos;
}

std::wstring Hex(int32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

void CPUIDSDK::Fill(SdkQueryInterfaceFn query) {
    if (query == nullptr) {
        return;
    }
    for (int i = 0; i < kSdkEntryCount; ++i) {
        table[i] = query(kSdkEntryIds[static_cast<size_t>(i)]);
    }
}

SensorMonitor::SensorMonitor(platform::Libraries& libraries, platform::Folders& folders,
                             platform::Console& console, platform::EventLog& eventLog)
    : libraries_(libraries), folders_(folders), console_(console), eventLog_(eventLog) {}

// The temperature library first, then the SDK: closed, destroyed, unloaded.
// Both are released, so a monitor that goes with its thread leaves no
// sensor driver session open behind it.
SensorMonitor::~SensorMonitor() {
    getCpuTemp = nullptr;
    getGpuTemp = nullptr;
    if (temperatureLibrary) {
        temperatureLibrary->Unload();
        temperatureLibrary.reset();
    }
    if (sdk) {
        if (SdkCloseFn close = sdk->Close()) {
            Guarded("sdkClose", close, sdk->instance);
        }
        if (SdkDestroyFn destroy = sdk->Destroy()) {
            Guarded("sdkDestroy", destroy, sdk->instance);
        }
        sdk.reset();
    }
    if (sdkLibrary) {
        sdkLibrary->Unload();
        sdkLibrary.reset();
    }
}

void SensorMonitor::Log(EventType type, std::wstring_view text) {
    WriteServiceEvent(eventLog_, type, text);
}

int SensorMonitor::Init() {
    const std::string folder = folders_.ProgramFolder();
    uint32_t error = 0;
    sdkLibrary = libraries_.LoadFromProgramFolder(kSdkLibrary, error);
    if (!sdkLibrary) {
        Log(EventType::Error, L"LoadLibrary cpuidsdk failed");
        return -1;
    }
    sdk = std::make_unique<CPUIDSDK>();
    {
        OutsideCall call("QueryInterface");
        sdk->Fill(reinterpret_cast<SdkQueryInterfaceFn>(sdkLibrary->Symbol("QueryInterface")));
    }
    if (SdkCreateFn create = sdk->Create()) {
        sdk->instance = Guarded("sdkCreate", create);
    }
    int32_t status = 0;
    int32_t detail = 0;
    int32_t started = 0;
    if (SdkStartFn start = sdk->Start()) {
        started = Guarded("sdkStart", start, sdk->instance, folder.c_str(), kSdkFileName,
                          kSdkStartFlags, &status, &detail);
    } else {
        status = kSdkStatusNoStart;
    }
    ReportStartStatus(status, detail);
    if (started == 0) {
        // The library and the table stay: the release takes them down.
        Log(EventType::Error, L"Init cpuidsdk failed");
        return -1;
    }
    EnumerateDevices();
    return 0;
}

void SensorMonitor::ReportStartStatus(int32_t status, int32_t detail) {
    if (status == 0) {
        return;
    }
    if (status == kSdkStatusDriverError) {
        Log(EventType::Error, L"Driver error 0x" + Hex(detail) + L".");
    } else if (status == kSdkStatusMutexLocked) {
        Log(EventType::Error, L"SDK mutex locked.");
    } else {
        Log(EventType::Error, L"Error code 0x" + Hex(status));
    }
}

namespace {

// The classes worth a line on standard output, and where the monitor keeps
// the index of the one it reads.
struct DeviceClassRow {
    int32_t code;
    const wchar_t* line;
    int32_t SensorMonitor::*index;
};
constexpr DeviceClassRow kDeviceClasses[] = {
    {kClassProcessor, L"CLASS_DEVICE_PROCESSOR\n", &SensorMonitor::processorIndex},
    {kClassDrive, L"CLASS_DEVICE_DRIVE\n", nullptr},
    {kClassDisplayAdapter, L"CLASS_DEVICE_DISPLAY_ADAPTER\n", &SensorMonitor::displayAdapterIndex},
    {kClassBattery, L"CLASS_DEVICE_BATTERY\n", nullptr},
    {kClassMainboard, L"CLASS_DEVICE_MAINBOARD\n", &SensorMonitor::mainboardIndex},
    {kClassMemoryModule, L"CLASS_DEVICE_MEMORY_MODULE\n", nullptr},
    {kClassPsu, L"CLASS_DEVICE_PSU\n", nullptr},
    {kClassWatercooler, L"CLASS_DEVICE_WATERCOOLER\n", nullptr},
};

}  // namespace

// With several devices of one class the last one enumerated is kept.
void SensorMonitor::EnumerateDevices() {
    OutsideCall call("sdkRefresh/sdkDeviceClass");
    if (SdkRefreshFn refresh = sdk->Refresh()) {
        refresh(sdk->instance);
    }
    const SdkDeviceCountFn deviceCount = sdk->DeviceCount();
    const int32_t count = deviceCount != nullptr ? deviceCount(sdk->instance) : -1;
    const SdkDeviceClassFn deviceClass = sdk->DeviceClass();
    for (int32_t i = 0; i < count && deviceClass != nullptr; ++i) {
        const int32_t code = deviceClass(sdk->instance, i);
        for (const DeviceClassRow& row : kDeviceClasses) {
            if (row.code == code) {
                console_.Print(row.line);
                if (row.index != nullptr) {
                    this->*row.index = i;
                }
            }
        }
    }
}

bool SensorMonitor::LoadTemperatureLibrary() {
    uint32_t error = 0;
    // The program folder first; the system's library folder only when there
    // is no copy beside the executable. Never the current directory: a
    // daemon started by hand may sit in a folder anyone can write to.
    std::unique_ptr<platform::DynamicLibrary> library =
        libraries_.LoadFromProgramFolder(kCoreTempLibrary, error);
    if (!library && error == platform::kErrorModNotFound) {
        library = libraries_.LoadFromSystemFolder(kCoreTempLibrary, error);
    }
    if (!library) {
        Log(EventType::Information, L"Get the core temp .dll failed");
        return false;
    }
    temperatureLibrary = std::move(library);
    void* cpu = temperatureLibrary->Symbol("GetCpuTemp");
    void* gpu = temperatureLibrary->Symbol("GetGpuTemp");
    if (cpu == nullptr || gpu == nullptr) {
        return false;
    }
    getCpuTemp = reinterpret_cast<GetCpuTempFn>(cpu);
    getGpuTemp = reinterpret_cast<GetGpuTempFn>(gpu);
    Log(EventType::Information, L"Core temp lib load good");
    return true;
}

bool SensorMonitor::QueryTemperatures(int32_t* cpuCount, uint32_t cpuTemps[kCpuTemperatureCount],
                                      int32_t* gpuCount, uint32_t gpuTemps[kGpuTemperatureCount]) {
    int32_t cpuWork[kCoreTempCpuValues] = {};
    int32_t gpuWork[kCoreTempGpuValues] = {};
    std::memset(cpuTemps, 0, sizeof(uint32_t) * kCpuTemperatureCount);
    std::memset(gpuTemps, 0, sizeof(uint32_t) * kGpuTemperatureCount);
    *cpuCount = 0;
    *gpuCount = 0;
    if (getCpuTemp == nullptr || getGpuTemp == nullptr) {
        return true;
    }
    try {
        OutsideCall call("GetCpuTemp/GetGpuTemp");
        int32_t count = 0;
        if (getCpuTemp(&count, cpuWork) != 0) {
            *cpuCount = count;
            if (count != 0) {
                std::memcpy(cpuTemps, cpuWork, sizeof(uint32_t) * kCpuTemperatureCount);
            }
        }
        count = 0;
        if (getGpuTemp(&count, gpuWork) != 0) {
            *gpuCount = count;
            if (count != 0) {
                std::memcpy(gpuTemps, gpuWork, sizeof(uint32_t) * kGpuTemperatureCount);
            }
        }
    } catch (...) {
        Log(EventType::Information, L"GetSysTemperature Fail");
        return false;
    }
    return true;
}

float SensorMonitor::ReadSensorValue(int32_t device, int32_t sensorClass, const char* nameFilter,
                                     int32_t sensorIndex) {
    if (!sdk) {
        return 0.0f;
    }
    const SdkSensorCountFn sensorCount = sdk->SensorCount();
    const int32_t n = sensorCount != nullptr ? sensorCount(sdk->instance, device, sensorClass) : -1;
    if (n <= 0 || sensorIndex >= n) {
        return 0.0f;
    }
    const SdkSensorInfoFn sensorInfo = sdk->SensorInfo();
    double sum = 0.0;
    int count = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (sensorIndex != -1 && sensorIndex != i) {
            continue;
        }
        float value = 0.0f;
        char name[kSdkNameMax + 1] = {};
        bool ok = false;
        if (sensorInfo != nullptr) {
            int32_t extra1 = 0, extra2 = 0, extra3 = 0, extra4 = 0;
            SdkString text = nullptr;
            ok = sensorInfo(sdk->instance, device, i, sensorClass, &extra1, &text, &extra2, &value,
                            &extra3, &extra4) != 0;
            if (ok) {
                if (text != nullptr) {
                    std::strncpy(name, text, kSdkNameMax);
                }
                libraries_.FreeComponentString(text);
            }
        }
        // A sensor picked by position is taken as it is, whatever its name.
        if (nameFilter != nullptr && i == sensorIndex) {
            return value;
        }
        const bool matches =
            nameFilter == nullptr || (name[0] != '\0' && ContainsIgnoringCase(name, nameFilter));
        if (ok && matches && std::fabs(value) >= kNoReading) {
            sum += value;
            ++count;
        }
    }
    return count == 0 ? 0.0f : static_cast<float>(sum / count);
}

int SensorMonitor::ReadSensors(SensorSnapshot* out) {
    if (!sdk) {
        return -1;
    }
    OutsideCall call("sdkRefresh/sdkSensorInfo");
    if (SdkRefreshFn refresh = sdk->Refresh()) {
        refresh(sdk->instance);
    }
    if (processorIndex != -1) {
        out->cpuClock = ReadSensorValue(processorIndex, kSensorClock, nullptr, -1);
        if (mainboardIndex != -1) {
            // Fan 0 is the CPU fan wherever the board puts it; the others go
            // by position.
            out->boardFan[0] = Truncate(ReadSensorValue(mainboardIndex, kSensorFan, "cpu", -1));
            for (int i = 1; i < kBoardFanCount; ++i) {
                out->boardFan[i] = Truncate(ReadSensorValue(mainboardIndex, kSensorFan, "cpu", i));
            }
        } else {
            for (int32_t& fan : out->boardFan) {
                fan = 0;
            }
        }
        out->cpuVoltage = ReadSensorValue(processorIndex, kSensorVoltage, nullptr, -1);
        out->cpuTemperature =
            Truncate(ReadSensorValue(processorIndex, kSensorTemperature, nullptr, -1));
        out->cpuUtilisation =
            Truncate(ReadSensorValue(processorIndex, kSensorUtilisation, nullptr, -1));
    }
    if (displayAdapterIndex != -1) {
        out->gpuClock = ReadSensorValue(displayAdapterIndex, kSensorClock, nullptr, -1);
        out->gpuFan = Truncate(ReadSensorValue(displayAdapterIndex, kSensorFan, nullptr, -1));
        out->gpuVoltage = ReadSensorValue(displayAdapterIndex, kSensorVoltage, nullptr, -1);
        out->gpuTemperature =
            Truncate(ReadSensorValue(displayAdapterIndex, kSensorTemperature, nullptr, -1));
        out->gpuUtilisation =
            Truncate(ReadSensorValue(displayAdapterIndex, kSensorUtilisation, nullptr, -1));
    }
    return 0;
}

}  // namespace vt::telemetry
