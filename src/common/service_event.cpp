#include "common/service_event.h"

#include <string>

namespace vt {

void WriteServiceEvent(platform::EventLog& log, std::wstring_view source, platform::EventType type,
                       std::wstring_view message) {
    platform::EventRecord record;
    record.source = source;
    record.type = type;
    record.strings = {std::wstring(source), std::wstring(message)};
    log.Write(record);
}

}  // namespace vt
