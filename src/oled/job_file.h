// The OLED job file tw_service.cfg in the product's data folder: whether the
// job runs and, per mouse profile, which screens it shows and for how long.
// The service only reads it; the desktop application writes it.
//
// Every lookup here is tolerant: the file comes from outside, so a value of
// an unexpected JSON type is read as the nearest case the format knows
// (no screens, no wait, a lit pixel, a disabled job) instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/user_file.h"
#include "platform/folders.h"

namespace vt::oled {

using Json = nlohmann::json;

inline constexpr char kJobFileName[] = "tw_service.cfg";
inline constexpr wchar_t kJobFileNameW[] = L"tw_service.cfg";
// The most JSON values a job file may hold. Parsed, a value takes up to
// some 80 bytes whatever its text, so this keeps the parsed file to a few
// MiB; a custom picture is 2304 values, so 28 profiles may have their own.
inline constexpr size_t kMaxJobValues = size_t{1} << 16;

std::string JobFilePath(platform::Folders& folders);

enum class JobFileRead { Loaded, CannotOpen, FormatError };

// Reads the whole file through `reader` as exactly one JSON value (only
// white space may follow it). A file the reader refuses, or one with more
// than kMaxJobValues values, reads as CannotOpen after the reader's entry.
// `config` is replaced only when the result is Loaded.
JobFileRead ReadJobFile(UserFileReader& reader, const std::string& path, Json& config);

// The parsing of ReadJobFile, for text already in memory.
JobFileRead ParseJobFile(std::string_view text, Json& config);

// Where the job reads its file from, afresh at every reading: the service
// reads the file in the data folder; the fuzzer hands over text in memory,
// so that no input costs a file.
class JobFileSource {
  public:
    virtual JobFileRead Read(Json& config) = 0;

  protected:
    ~JobFileSource() = default;
};

// The file at `path`, read through a reader of its own.
class JobFileAt final : public JobFileSource {
  public:
    JobFileAt(platform::Folders& folders, platform::EventLog& eventLog, std::string path)
        : reader_(folders, eventLog, kJobFileNameW), path_(std::move(path)) {}
    JobFileRead Read(Json& config) override { return ReadJobFile(reader_, path_, config); }

  private:
    UserFileReader reader_;
    const std::string path_;
};

// The start-up reading of "enable": true only for a top-level object whose
// "enable" is the boolean true; a missing file, a parse failure or any other
// value count as disabled.
bool JobEnabledAtStart(JobFileSource& file);

// At least as many as the JSON values in `text`, counted without parsing.
size_t JsonValueBound(std::string_view text);

// The reading of "enable" while painting: only the boolean true keeps the
// job running; false, a missing member or any other type stops it.
bool ConfigEnabled(const Json& config);

// An integer as the file gives it: a float is truncated toward zero, true
// and false count as 1 and 0; results are clamped to the int32 range.
// Empty for every other type.
std::optional<int32_t> ReadInteger(const Json& value);

// What one screen of a profile's cycle shows, by the number the job file
// gives it. Any other number (9 among them) leaves the screen as it is.
enum class Item : int32_t {
    Profile = 0,  // "PROFILE<n>"
    Dpi = 1,      // the active resolution stage
    LiftOff = 2,  // "LOD HIGH" / "LOD LOW"
    Volume = 3,   // the figures the mouse reports
    Cpu = 4,
    Gpu = 5,
    Ram = 6,
    Rate = 7,       // the report rate
    Custom = 8,     // the profile's own picture
    Picture0 = 10,  // the built-in pictures 0 to 2
    Picture1 = 11,
    Picture2 = 12,
    Apm = 13,
};

// "p" followed by the profile number in decimal.
std::string ProfileKey(int32_t profile);

// The profile object's views. Each looks the value up again from the top.
class ProfileView {
  public:
    ProfileView(const Json& config, int32_t profile);

    // Entries of "cycle_order"; 0 unless it is an array.
    size_t CycleCount() const;
    // Entry i as an item; entries that are not numbers or booleans give
    // -1, which shows nothing.
    Item ItemAt(size_t index) const;
    // Seconds each screen stays; empty when there is no wait at all
    // (missing, null, or not a number or boolean).
    std::optional<int32_t> Duration() const;
    // Pixel byte of column x, row y of the custom picture: 0 only for a
    // number equal to 0, 1 for anything else, including what is missing.
    uint8_t CustomPixel(int x, int y) const;

  private:
    const Json* Member(const char* key) const;

    const Json* profile_ = nullptr;
};

}  // namespace vt::oled
