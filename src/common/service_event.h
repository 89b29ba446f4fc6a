// The one shape of every event-log entry the program writes: the service's
// name as source and first string, the message as second string, category
// 0, event id 0.
#pragma once

#include <string_view>

#include "platform/event_log.h"

namespace vt {

inline constexpr wchar_t kServiceName[] = L"VTService";

void WriteServiceEvent(platform::EventLog& log, std::wstring_view source, platform::EventType type,
                       std::wstring_view message);

inline void WriteServiceEvent(platform::EventLog& log, platform::EventType type,
                              std::wstring_view message) {
    WriteServiceEvent(log, kServiceName, type, message);
}

}  // namespace vt
