// The models the service drives, each with its creation function (called by
// the discovery dispatch) and its slot.
#pragma once

#include "devices/creation.h"

namespace vt::devices {

// Keyboards.
extern const ModelEntry kKB505, kKB507, kKB709, kKB709Dongle, kKB711, kKB303, kKB401, kKB403B,
    kKB403W, kKB405, kKB406, kKB407;
// Headsets.
extern const ModelEntry kHV150, kHV210, kHV230;
// The rest.
extern const ModelEntry kLQ120, kCS900, kRX420;

}  // namespace vt::devices
