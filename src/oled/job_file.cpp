#include "oled/job_file.h"

#include <cmath>
#include <limits>

namespace vt::oled {

std::string JobFilePath(platform::Folders& folders) {
    return folders.DataFolder() + folders.Separator() + kJobFileName;
}

size_t JsonValueBound(std::string_view text) {
    // Every value but the first follows a ',' (array element or member), a
    // ':' (member value) or a '[' (first element); none of those inside a
    // string counts.
    size_t bound = 1;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == ',' || c == ':' || c == '[') {
            ++bound;
        }
    }
    return bound;
}

JobFileRead ReadJobFile(UserFileReader& reader, const std::string& path, Json& config) {
    std::string text;
    if (!reader.Read(path, text)) {
        return JobFileRead::CannotOpen;
    }
    if (JsonValueBound(text) > kMaxJobValues) {
        reader.Refuse(platform::UserFile::TooLarge);
        return JobFileRead::CannotOpen;
    }
    return ParseJobFile(text, config);
}

bool ConfigEnabled(const Json& config) {
    if (!config.is_object()) {
        return false;
    }
    const auto it = config.find("enable");
    return it != config.end() && it->is_boolean() && it->get<bool>();
}

JobFileRead ParseJobFile(std::string_view text, Json& config) {
    // Strict: one value, then nothing but white space. No exceptions: a
    // malformed file is an ordinary outcome here.
    Json parsed = Json::parse(text.begin(), text.end(), nullptr, false, false);
    if (parsed.is_discarded()) {
        return JobFileRead::FormatError;
    }
    config = std::move(parsed);
    return JobFileRead::Loaded;
}

bool JobEnabledAtStart(JobFileSource& file) {
    Json config;
    return file.Read(config) == JobFileRead::Loaded && ConfigEnabled(config);
}

std::optional<int32_t> ReadInteger(const Json& value) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (value.is_boolean()) {
        return value.get<bool>() ? 1 : 0;
    }
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        return static_cast<int32_t>(v > static_cast<uint64_t>(kMax) ? kMax : v);
    }
    if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        return static_cast<int32_t>(v < kMin ? kMin : (v > kMax ? kMax : v));
    }
    if (value.is_number_float()) {
        // Clamp before converting: a float outside the range has no integer.
        const double v = std::trunc(value.get<double>());
        if (v <= static_cast<double>(kMin)) {
            return static_cast<int32_t>(kMin);
        }
        if (v >= static_cast<double>(kMax)) {
            return static_cast<int32_t>(kMax);
        }
        return static_cast<int32_t>(v);
    }
    return std::nullopt;
}

std::string ProfileKey(int32_t profile) {
    // Appended rather than "p" + text: GCC 12 at -O3 warns falsely about
    // the latter (-Wrestrict).
    std::string key = "p";
    key += std::to_string(profile);
    return key;
}

ProfileView::ProfileView(const Json& config, int32_t profile) {
    if (!config.is_object()) {
        return;
    }
    const auto it = config.find(ProfileKey(profile));
    if (it != config.end() && it->is_object()) {
        profile_ = &*it;
    }
}

const Json* ProfileView::Member(const char* key) const {
    if (!profile_) {
        return nullptr;
    }
    const auto it = profile_->find(key);
    return it == profile_->end() ? nullptr : &*it;
}

size_t ProfileView::CycleCount() const {
    const Json* order = Member("cycle_order");
    return order && order->is_array() ? order->size() : 0;
}

Item ProfileView::ItemAt(size_t index) const {
    const Json* order = Member("cycle_order");
    if (!order || !order->is_array() || index >= order->size()) {
        return Item{-1};
    }
    return Item{ReadInteger((*order)[index]).value_or(-1)};
}

std::optional<int32_t> ProfileView::Duration() const {
    const Json* duration = Member("duration");
    return duration ? ReadInteger(*duration) : std::nullopt;
}

uint8_t ProfileView::CustomPixel(int x, int y) const {
    const Json* data = Member("custom_data");
    if (!data || !data->is_array() || x < 0 || static_cast<size_t>(x) >= data->size()) {
        return 1;
    }
    const Json& column = (*data)[static_cast<size_t>(x)];
    if (!column.is_array() || y < 0 || static_cast<size_t>(y) >= column.size()) {
        return 1;
    }
    const Json& element = column[static_cast<size_t>(y)];
    if (element.is_number() && element.get<double>() == 0.0) {
        return 0;
    }
    return 1;
}

}  // namespace vt::oled
