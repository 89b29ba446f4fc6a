// The device layer's side of the model table: each model's creation (open,
// retry, slot, set-up, entry) and its removal.
#pragma once

#include <string>

#include "devices/device_layer.h"
#include "devices/model_table.h"

namespace vt::devices {

struct ModelEntry {
    void (*create)(DeviceLayer& layer, const std::string& path);
    void (*clear)(DeviceLayer& layer);
};

const ModelEntry& EntryOf(Model model);

}  // namespace vt::devices
