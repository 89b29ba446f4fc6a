#include "common/text.h"

namespace vt {

std::wstring Hex8(uint32_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out(8, L'0');
    for (int i = 7; i >= 0; --i) {
        out[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

std::wstring FailedWithError(std::wstring_view what, uint32_t code) {
    std::wstring out(what);
    out += L" failed w/err 0x";
    out += Hex8(code);
    return out;
}

std::wstring FitBuffer(std::wstring text, size_t bufferChars) {
    if (bufferChars == 0) {
        return {};
    }
    if (text.size() > bufferChars - 1) {
        text.resize(bufferChars - 1);
    }
    return text;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; };
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace vt
