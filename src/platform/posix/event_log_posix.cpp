#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/posix/system_posix.h"
#include "platform/posix/wide_posix.h"

namespace vt::platform::posix {

namespace {

int SyslogPriority(EventType type) {
    switch (type) {
        case EventType::Error:
            return LOG_ERR;
        case EventType::Warning:
            return LOG_WARNING;
        default:
            return LOG_INFO;
    }
}

// One record is one line; keep separators inside the strings from breaking it.
std::string Escape(const std::wstring& text) {
    std::string out;
    for (char c : ToUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::mutex g_syslogMutex;  // openlog/closelog are process-wide

}  // namespace

void PosixEventLog::Write(const EventRecord& record) {
    const char* file = std::getenv("VTSERVICE_EVENTLOG_FILE");
    if (file != nullptr && *file != '\0') {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
        // on chains of std::string operator+.
        std::string line = std::to_string(static_cast<int>(record.type));
        line.append("\t").append(std::to_string(record.category));
        line.append("\t").append(std::to_string(record.eventId));
        line.append("\t").append(Escape(record.source));
        for (const auto& s : record.strings) {
            line.append("\t").append(Escape(s));
        }
        line += "\n";
        const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            return;
        }
        // One write per record: concurrent writers never interleave a line.
        const ssize_t written = write(fd, line.data(), line.size());
        (void)written;
        close(fd);
        return;
    }
    std::string message;
    for (size_t i = 0; i < record.strings.size(); ++i) {
        message += (i == 0 ? "" : ": ") + ToUtf8(record.strings[i]);
    }
    const std::string ident = ToUtf8(record.source);
    std::lock_guard<std::mutex> lock(g_syslogMutex);
    openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
    syslog(SyslogPriority(record.type), "%s", message.c_str());
    closelog();
}

}  // namespace vt::platform::posix
