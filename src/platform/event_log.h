// One record in the system's event log. The core always writes category 0,
// event id 0 and two strings; the interface carries them all so a test can see
// exactly what was written. Any thread may call Write; it keeps no state
// between calls (each write opens and closes the source).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vt::platform {

enum class EventType : uint16_t {
    Error = 1,
    Warning = 2,
    Information = 4,
};

struct EventRecord {
    std::wstring source;
    EventType type = EventType::Information;
    uint16_t category = 0;
    uint32_t eventId = 0;
    std::vector<std::wstring> strings;
};

class EventLog {
  public:
    // Failures (source cannot be opened, write refused) drop the record.
    virtual void Write(const EventRecord& record) = 0;

  protected:
    ~EventLog() = default;
};

}  // namespace vt::platform
