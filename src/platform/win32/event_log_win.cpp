#include <windows.h>

#include <vector>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinEventLog final : public EventLog {
  public:
    void Write(const EventRecord& record) override;
};

// The source is opened and closed around each record, so no handle is held
// between entries and any thread may log.
void WinEventLog::Write(const EventRecord& record) {
    HANDLE source = ::RegisterEventSourceW(nullptr, record.source.c_str());
    if (source == nullptr) {
        return;
    }
    std::vector<LPCWSTR> strings;
    strings.reserve(record.strings.size());
    for (const auto& s : record.strings) {
        strings.push_back(s.c_str());
    }
    ::ReportEventW(source, static_cast<WORD>(record.type), record.category, record.eventId, nullptr,
                   static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
    ::DeregisterEventSource(source);
}

EventLog& SystemEventLog() {
    static WinEventLog eventLog;
    return eventLog;
}

}  // namespace vt::platform::win32
