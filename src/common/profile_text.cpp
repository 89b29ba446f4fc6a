#include "common/profile_text.h"

#include <cctype>
#include <string>

namespace vt {

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
    // A file saved as UTF-16: section, key and digits are ASCII, so every
    // other character may stand as '?'.
    std::string narrow;
    if (text.substr(0, 2) == "\xFF\xFE") {
        for (size_t i = 2; i + 1 < text.size(); i += 2) {
            narrow.push_back(
                text[i + 1] == 0 && static_cast<unsigned char>(text[i]) < 0x80 ? text[i] : '?');
        }
        text = narrow;
    }
    std::string_view value;
    if (!FindValue(text, section, key, value) || value.empty()) {
        return defaultValue;
    }
    return LeadingInteger(value);
}

}  // namespace vt
