#include "devices/device_layer.h"

#include <vector>

#include "common/outside_calls.h"
#include "common/service_event.h"
#include "common/text.h"
#include "devices/device_catalogue.h"
#include "devices/models.h"
#include "devices/twlink_loader.h"

namespace vt::devices {

namespace {

std::atomic<DeviceLayer*> g_active{nullptr};
// Callbacks between their CallbackScope's construction and destruction.
std::atomic<int> g_callbacksInside{0};

constexpr uint16_t kHV230ProductId = FactsOf(Model::hv230).productIds[0];
constexpr uint32_t kArrival = 1;

// The dispatch by product id (maker's vendor id only). Ids with a dongle
// form open that model when the path says it is the wireless dongle.
const ModelEntry* FindModel(uint32_t productId, std::string_view path) {
    for (const ModelRow& row : kModelRows) {
        for (uint16_t id : row.facts.productIds) {
            if (id != 0 && id == productId) {
                const bool dongle = row.facts.dongle != Model::kNone && IsDongle(path);
                return &EntryOf(dongle ? row.facts.dongle : row.model);
            }
        }
    }
    return nullptr;
}

// A path field is NUL-terminated, but nothing guarantees the terminator is
// inside the field: never read past it.
std::string PathOf(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != '\0') {
        ++n;
    }
    return std::string(field, n);
}

}  // namespace

bool IsDongle(std::string_view path) {
    return path.find("&ISDONGLE") != std::string_view::npos;
}

DeviceLayer::DeviceLayer(platform::EventLog& eventLog, platform::Console& console,
                         platform::Clock& clock)
    : oledJobWait(clock),
      companionWait(clock),
      cooler(slots.lq120, clock),
      eventLog_(eventLog),
      console_(console),
      clock_(clock) {}

DeviceLayer::~DeviceLayer() {
    DeviceLayer* self = this;
    g_active.compare_exchange_strong(self, nullptr);
    // Bounded, so a device call that never returns cannot keep the process
    // from ending.
    constexpr uint32_t kStepMs = 10;
    for (uint32_t waited = 0; g_callbacksInside.load() > 0 && waited < kCallbackWaitMs;
         waited += kStepMs) {
        clock_.Sleep(kStepMs);
    }
}

// Counted before the look at the active layer: a destruction either sees
// this callback inside, or this callback sees no layer.
CallbackScope::CallbackScope() {
    ++g_callbacksInside;
    layer_ = g_active.load();
}

CallbackScope::~CallbackScope() {
    --g_callbacksInside;
}

bool DeviceLayer::WatchStop(platform::Threads& threads, platform::Event& stop) {
    stop_ = &stop;
    return cooler.Attach(threads, stop) && oledJobWait.Attach(threads, stop) &&
           companionWait.Attach(threads, stop);
}

bool DeviceLayer::Pause(uint32_t milliseconds) {
    if (stop_ == nullptr) {
        clock_.Sleep(milliseconds);
        return false;
    }
    return stop_->Wait(milliseconds) == platform::kWaitObject0;
}

DeviceLayer* DeviceLayer::Active() {
    return g_active.load();
}
void DeviceLayer::SetActive(DeviceLayer* layer) {
    g_active = layer;
}

bool DeviceLayer::Load(platform::Libraries& libraries) {
    uint32_t error = 0;
    std::unique_ptr<platform::DynamicLibrary> library =
        libraries.LoadFromProgramFolder(kTwLinkLibrary, error);
    const std::wstring name = libraries.DisplayName(kTwLinkLibrary);
    if (!library) {
        WriteServiceEvent(eventLog_, platform::EventType::Error,
                          FailedWithError(L"Load " + name, error));
        return false;
    }
    std::string missing;
    std::optional<TwLinkApi> api = ResolveTwLink(*library, missing);
    if (!api) {
        WriteServiceEvent(
            eventLog_, platform::EventType::Error,
            name + L" lacks the export " + std::wstring(missing.begin(), missing.end()));
        return false;
    }
    library_ = std::move(library);
    Attach(*api);
    return true;
}

void DeviceLayer::Attach(const TwLinkApi& api) {
    api_ = api;
    loaded_ = true;
}

void DeviceLayer::OnServiceStop() {
    companionDeviceCount = 0;
    companionWait.Wake();
    if (cs900Panel_) {
        cs900Panel_->stopping = true;
    }
}

void DeviceLayer::AttachPanel(const PanelSystem& system) {
    cs900Panel_ = std::make_unique<CS900Panel>(*this, system);
}

void DeviceLayer::ClearStartSlots() {
    for (const ModelRow& row : kModelRows) {
        if (row.facts.clearedAtStart) {
            EntryOf(row.model).clear(*this);
        }
    }
}

void DeviceLayer::StartLibrary() {
    if (!loaded_) {
        return;
    }
    Guarded("twlink_background", api_.twlink_background, 1);
    Guarded("twlink_init", api_.twlink_init);
}

void DeviceLayer::EnumerateAttached() {
    if (!loaded_) {
        return;
    }
    std::vector<DevInfoRecord> records(kDevInfoCapacity);
    const int32_t count = Guarded("devInfo", api_.devInfo, records.data());
    // The library promises at most its capacity; never trust it further.
    const int32_t n = count < kDevInfoCapacity ? count : kDevInfoCapacity;
    for (int32_t i = 0; i < n; ++i) {
        const DevInfoRecord& r = records[static_cast<size_t>(i)];
        if (IsCompanionDevice(r.productId, r.vendorId)) {
            ++companionDeviceCount;
            companionWait.Wake();
        }
        if (r.vendorId != kMakerVendorId) {
            continue;
        }
        if (r.productId == kRX410ProductId) {
            rx410Present = 1;
            oledJobWait.Wake();
            continue;
        }
        if (const ModelEntry* model = FindModel(r.productId, PathOf(r.path, sizeof r.path))) {
            model->create(*this, PathOf(r.path, sizeof r.path));
        }
    }
}

void DeviceLayer::RegisterHotPlug() {
    if (loaded_) {
        Guarded("registerDevNotify", api_.registerDevNotify, &DeviceLayer::OnDeviceNotify);
    }
}

void VT_STDCALL DeviceLayer::OnDeviceNotify(DevNotifyRecord record) {
    InCallback([&record](DeviceLayer& layer) { layer.HandleNotify(record); });
}

void DeviceLayer::CountCompanionRemoval() {
    // Floored at 0: a device that arrived between the start-up enumeration
    // and the hot-plug registration was never counted, and its removal must
    // not leave the watcher believing a device is attached.
    int32_t current = companionDeviceCount.load();
    while (current > 0 && !companionDeviceCount.compare_exchange_weak(current, current - 1)) {
    }
}

void DeviceLayer::HandleNotify(const DevNotifyRecord& r) {
    const bool arrival = r.eventCode == kArrival;
    if (IsCompanionDevice(r.productId, r.vendorId)) {
        if (arrival) {
            ++companionDeviceCount;
        } else {
            CountCompanionRemoval();
        }
        companionWait.Wake();
    }
    if (r.vendorId != kMakerVendorId) {
        return;
    }
    if (r.productId == kRX410ProductId) {
        rx410Present = static_cast<int32_t>(r.eventCode);
        oledJobWait.Wake();
        return;
    }
    const std::string path = PathOf(r.path, sizeof r.path);
    const ModelEntry* model = FindModel(r.productId, path);
    if (model == nullptr) {
        return;
    }
    const bool isHV230 = r.productId == kHV230ProductId;
    if (arrival) {
        model->create(*this, path);
        if (isHV230) {
            LogInformation(L"CreateHV230 ");
        }
    } else {
        if (isHV230) {
            LogInformation(L"del HV230");
        }
        model->clear(*this);
    }
}

void DeviceLayer::LogInformation(std::wstring_view text) {
    WriteServiceEvent(eventLog_, platform::EventType::Information, text);
}

void DeviceLayer::PrintLine(std::string_view text) {
    std::wstring line(text.begin(), text.end());
    line += L"\n";
    console_.Print(line);
}

}  // namespace vt::devices
