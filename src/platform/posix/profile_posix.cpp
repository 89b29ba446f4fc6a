#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Optional sign, then decimal digits up to the first other character;
// wraps at 32 bits.
uint32_t LeadingInteger(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    uint32_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    return negative ? 0u - value : value;
}

// The value of the first `key` line in a `section` of the text, trimmed and
// without surrounding quotes; false when there is none.
bool FindValue(std::string_view text, std::string_view section, std::string_view key,
               std::string_view& value) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    bool inSection = false;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            line.remove_prefix(1);
            inSection = SameName(Trim(line.substr(0, line.find(']'))), section);
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos ||
            !SameName(Trim(line.substr(0, equals)), key)) {
            continue;
        }
        value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return true;
    }
    return false;
}

}  // namespace

uint32_t ProfileIntFromText(std::string_view text, std::string_view section, std::string_view key,
                            uint32_t defaultValue) {
    std::string_view value;
    if (!FindValue(text, section, key, value) || value.empty()) {
        return defaultValue;
    }
    return LeadingInteger(value);
}

uint32_t PosixProfileFiles::GetInt(const std::string& section, const std::string& key,
                                   uint32_t defaultValue, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return defaultValue;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ProfileIntFromText(text.str(), section, key, defaultValue);
}

}  // namespace vt::platform::posix
