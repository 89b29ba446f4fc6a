// The last word of a process that crashed: a dump of it, named after the
// local time, in a folder of the caller's choice.
#pragma once

#include <cstddef>
#include <string>

namespace vt::platform {

class CrashHook {
  public:
    // Installs the process-wide hook. After a crash on any thread it writes
    // its dump into `folder` (which ends with a separator), then the process
    // ends. The folder is the service's own, prepared before; the hook
    // creates nothing but the dump file, replacing an older one of the same
    // name without writing through it. An empty `folder`: no dump, the
    // process still ends. Installed once; nothing removes it.
    virtual void Install(const std::string& folder) = 0;
    // A call into an outside library that never returned: leaves what a
    // crash would in the installed folder (Windows: a minidump of every
    // thread; Linux: a report naming `call` and the hung `thread`), then
    // ends the process with a failure code at once, running no clean-up.
    // Runs on a thread that is not hung. Never returns, except in tests.
    virtual void Hung(const char* call, const char* thread) = 0;

  protected:
    ~CrashHook() = default;
};

// The moment of a crash in local time, as the dump is named.
struct CrashTime {
    int year;    // four digits
    int month;   // 1 to 12
    int day;     // 1 to 31
    int hour;    // 0 to 23
    int minute;  // 0 to 59
};

// Year, month, day, hour and minute one after the other, without
// separators or leading zeros, then `extension`: 4 December 2026 at 16:07
// gives "2026124167.dmp". Writes a terminated name into `out` and returns
// its length, or returns 0 and writes nothing when it does not fit. Touches
// nothing but its arguments, so a signal handler may call it.
inline size_t FormatCrashFileName(const CrashTime& time, const char* extension, char* out,
                                  size_t size) {
    char text[64];
    size_t length = 0;
    const int fields[] = {time.year, time.month, time.day, time.hour, time.minute};
    for (int field : fields) {
        char digits[12];
        size_t n = 0;
        unsigned value = field < 0 ? 0u : static_cast<unsigned>(field);
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) {
            text[length++] = digits[--n];
        }
    }
    for (const char* e = extension; *e != '\0'; ++e) {
        if (length + 1 >= sizeof text) {
            return 0;
        }
        text[length++] = *e;
    }
    if (length + 1 > size) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        out[i] = text[i];
    }
    out[length] = '\0';
    return length;
}

}  // namespace vt::platform
