// Resolves the device library's exports: all of them or none.
#pragma once

#include <optional>
#include <string>

#include "devices/twlink.h"
#include "platform/library.h"

namespace vt::devices {

// The resolved exports, or nothing with the name of the first missing one
// in `missing`.
std::optional<TwLinkApi> ResolveTwLink(platform::DynamicLibrary& library, std::string& missing);

}  // namespace vt::devices
