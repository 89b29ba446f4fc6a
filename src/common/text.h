// Small text helpers shared by the installer and the service: the fixed
// message shapes are built here without printf, whose wide "%s" differs
// between the C runtimes we build for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vt {

// Eight lower-case hexadecimal digits, as "%08lx" prints them.
std::wstring Hex8(uint32_t value);

// "<what> failed w/err 0x<8 hex digits>".
std::wstring FailedWithError(std::wstring_view what, uint32_t code);

// Cuts `text` so that it fits a buffer of `bufferChars` wide characters with
// its terminator, as a bounded formatter would.
std::wstring FitBuffer(std::wstring text, size_t bufferChars);

// ASCII case-insensitive whole-word comparison.
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

}  // namespace vt
