// A 5 x 7 bitmap font for the printable ASCII characters.
#pragma once

#include <cstdint>

namespace oledconvert {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// Five columns, left to right; bit 0 of each is the top row. Characters
// outside 0x20..0x7E draw as a box.
const uint8_t* Glyph(char c);

}  // namespace oledconvert
