// Where a crashed service leaves its dump.
#pragma once

#include <string>

namespace vt::service {

// The dump folder in the data folder, with forward slashes and a trailing
// slash: "C:/ProgramData/Tarnwick/Veltrace/service_dmp/" on Windows.
std::string CrashDumpFolder(const std::string& dataFolder);

}  // namespace vt::service
