#include "pipe/device_commands.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/outside_calls.h"

namespace vt::pipe {

namespace {

using devices::DeviceSlots;
using devices::StatusEffectRequest;

// Keyboard families keep SetSystemStatusEffect at different places of their
// objects; the slot's type picks the right one.
template <auto Slot>
void StatusEffect(DeviceSlots& slots, StatusEffectRequest* request) {
    if (auto* device = (slots.*Slot).load()) {
        OutsideCall call("SetSystemStatusEffect");
        device->SetSystemStatusEffect(request);
    }
}

struct KeyboardRow {
    std::string_view mod;
    void (*call)(DeviceSlots&, StatusEffectRequest*);
};

template <auto Slot>
constexpr bool kHasStatusEffect = requires(DeviceSlots& s, StatusEffectRequest* r) {
    (s.*Slot).load()->SetSystemStatusEffect(r);
};

// Every model whose row names a "mod": the keyboards.
template <auto Slot>
constexpr KeyboardRow KeyboardFor(std::string_view mod) {
    if constexpr (kHasStatusEffect<Slot>) {
        return {mod, &StatusEffect<Slot>};
    } else {
        return {{}, nullptr};
    }
}
#define VT_KEYBOARD_ROW(slot, ...) \
    KeyboardFor<&DeviceSlots::slot>(devices::FactsOf(devices::Model::slot).pipeName),
constexpr KeyboardRow kKeyboards[] = {VT_DRIVEN_MODELS(VT_KEYBOARD_ROW)};
#undef VT_KEYBOARD_ROW
#define VT_KEYBOARD_CHECK(slot, ...)                                         \
    static_assert(devices::FactsOf(devices::Model::slot).pipeName.empty() || \
                      kHasStatusEffect<&DeviceSlots::slot>,                  \
                  "a model with a pipe name has a status effect");
VT_DRIVEN_MODELS(VT_KEYBOARD_CHECK)
#undef VT_KEYBOARD_CHECK

const Json* Param(const Json& request, const char* key) {
    const Json* param = Member(request, "param");
    return param != nullptr ? Member(*param, key) : nullptr;
}

}  // namespace

void DeviceCommands::Dispatch(const Json& request, std::string& reply) {
    const std::optional<std::string> mod = ReadString(Member(request, "mod"));
    if (!mod) {
        return;
    }
    const std::optional<std::string> func = ReadString(Member(request, "func"));
    for (const KeyboardRow& row : kKeyboards) {
        if (!row.mod.empty() && *mod == row.mod) {
            if (func == "setSystemStatusEffect") {
                Keyboard(row.call, request, reply);
            }
            return;
        }
    }
    if (*mod == "lq120" && func) {
        Cooler(*func, request, reply);
    } else if (*mod == "cs900") {
        CasePanel(request, reply);
    }
}

void DeviceCommands::Keyboard(void (*call)(DeviceSlots&, StatusEffectRequest*), const Json& request,
                              std::string& reply) {
    const std::optional<int32_t> type = ReadInt32(Param(request, "type"));
    if (!type) {
        return;
    }
    StatusEffectRequest effect{*type, 0};
    call(devices_.slots, &effect);
    reply = kReplyOk;
}

void DeviceCommands::Cooler(const std::string& func, const Json& request, std::string& reply) {
    devices::CoolerDisplay& cooler = devices_.cooler;
    if (func == "setMultiDisplayMode") {
        if (devices_.slots.lq120.load() == nullptr) {
            reply = kReplyOk;  // nothing to show it on; the request is not read
            return;
        }
        devices::DisplayCycleRequest cycle{};
        const std::optional<uint32_t> duration = ReadUint32(Param(request, "duration"));
        const Json* modes = Param(request, "modes");
        if (!duration || modes == nullptr || !modes->is_array() || modes->size() < 5) {
            return;
        }
        cycle.duration = *duration;
        for (size_t i = 0; i < 5; ++i) {
            const std::optional<uint8_t> mode = ReadUint8(&(*modes)[i]);
            if (!mode) {
                return;
            }
            cycle.modes[i] = *mode;
        }
        cooler.SetDisplayCycle(cycle);
        reply = kReplyOk;
    } else if (func == "setScreenSave") {
        const std::optional<bool> save = ReadBool(Param(request, "bsave"));
        if (!save) {
            return;
        }
        if (devices_.slots.lq120.load() != nullptr) {
            cooler.screenSaveEnabled = *save ? 1 : 0;
        }
        reply = kReplyOk;
    } else if (func == "updateData") {
        const std::optional<int32_t> mode = ReadInt32(Param(request, "mode"));
        if (!mode) {
            return;
        }
        if (devices::LQ120Device* device = devices_.slots.lq120.load()) {
            uint8_t displayMode = static_cast<uint8_t>(*mode);
            Guarded("LQ120 SetDisplayMode", [&] { device->SetDisplayMode(&displayMode); });
            // Only the whole number selects the cycling mode: 267 shows mode
            // 11's low byte but does not cycle.
            cooler.SetCycleActive(*mode == devices::kMultiDisplayMode);
        }
        reply = kReplyOk;
    }
}

void DeviceCommands::CasePanel(const Json& request, std::string& reply) {
    const std::optional<std::string> func = ReadString(Member(request, "func"));
    const std::optional<std::string> param = ReadString(Member(request, "param"));
    devices::CS900Device* device = devices_.slots.cs900.load();
    if (!func || !param || device == nullptr) {
        return;
    }
    // The panel writes its answer over the current reply, bounded by the
    // buffer; whatever it leaves (its text, or "TW_FAIL") is the reply.
    char buffer[kHostReplySize] = {};
    const size_t n = std::min(reply.size(), sizeof buffer - 1);
    std::memcpy(buffer, reply.data(), n);
    Guarded("CS900 HandleHostCommand", [&] {
        device->HandleHostCommand(func->c_str(), param->c_str(), buffer, sizeof buffer);
    });
    buffer[sizeof buffer - 1] = '\0';
    // An empty text would go out as a write of no bytes, which the client
    // cannot tell from no reply at all.
    reply = buffer[0] != '\0' ? buffer : kReplyFail;
}

}  // namespace vt::pipe
