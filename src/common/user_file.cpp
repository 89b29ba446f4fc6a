#include "common/user_file.h"

#include "common/service_event.h"

namespace vt {

using platform::UserFile;

UserFileReader::UserFileReader(platform::Folders& folders, platform::EventLog& eventLog,
                               std::wstring name)
    : folders_(folders), eventLog_(eventLog), name_(std::move(name)) {}

bool UserFileReader::Read(const std::string& path, std::string& content) {
    const UserFile result = folders_.ReadUserFile(path, kUserFileLimit, content);
    switch (result) {
        case UserFile::Read:
            reported_ = UserFile::Read;
            return true;
        case UserFile::NotRegular:
        case UserFile::TooLarge:
        case UserFile::Untrusted:
            Refuse(result);
            return false;
        default:
            // Missing or unreadable: what the caller does with a file that
            // is not there; a later refusal is worth a new entry.
            reported_ = UserFile::Read;
            return false;
    }
}

void UserFileReader::Refuse(UserFile why) {
    if (why == reported_) {
        return;
    }
    reported_ = why;
    const wchar_t* reason = why == UserFile::TooLarge    ? L" is too large, not read"
                            : why == UserFile::Untrusted ? L" is in a folder others may redirect, not read"
                                                         : L" is a link or not a regular file, not read";
    WriteServiceEvent(eventLog_, platform::EventType::Error, name_ + reason);
}

}  // namespace vt
