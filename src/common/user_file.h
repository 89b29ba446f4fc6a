// The files the service reads from the shared data folder (the job file,
// localdevice.ini), where any local user may put what they like. Each is
// read only as a plain file of at most kUserFileLimit bytes, in a folder
// reached without links through folders only the system controls; anything
// else reads as missing, and the refusal is one error entry naming the file
// (not one per read: localdevice.ini is read every two seconds).
//
// One reader per file, used by one thread.
#pragma once

#include <cstddef>
#include <string>

#include "platform/event_log.h"
#include "platform/folders.h"

namespace vt {

// Both files are a few KiB when the desktop application writes them.
inline constexpr size_t kUserFileLimit = size_t{1} << 20;

class UserFileReader {
  public:
    // `name` is the file name the entries give.
    UserFileReader(platform::Folders& folders, platform::EventLog& eventLog, std::wstring name);

    // True, with the whole file in `content`, when the file at `path` is a
    // plain file within the limit. Otherwise false, `content` untouched.
    bool Read(const std::string& path, std::string& content);
    // Reports a file that is there but may not be used (NotRegular,
    // TooLarge, or Untrusted: its folder may be redirected): one error entry, unless this refusal was the last thing
    // reported and no good read came since.
    void Refuse(platform::UserFile why);

  private:
    platform::Folders& folders_;
    platform::EventLog& eventLog_;
    const std::wstring name_;
    platform::UserFile reported_ = platform::UserFile::Read;
};

}  // namespace vt
