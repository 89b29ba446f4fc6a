// The converter stand-in's work: text drawn into 96 x 24 pixels, and those
// pixels written to and read from BMP files.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace oledconvert {

inline constexpr int kWidth = 96;
inline constexpr int kHeight = 24;
// Column by column, each column top to bottom, 0 or 1.
using Pixels = std::array<uint8_t, kWidth * kHeight>;

// The text in the built-in font. Layout 1 centres it; any other layout puts
// it at the left edge. Glyphs are drawn twice as wide and twice as tall when
// the whole text fits that way, else only twice as tall; characters that do
// not fit on the screen are left out.
Pixels DrawText(const std::string& text, int layout);

// A 1-bit BMP file of the pixels (lit = palette entry 1, white).
std::string EncodeBmp(const Pixels& pixels);
bool WriteBmp(const std::string& path, const Pixels& pixels);

// Reads a 96 x 24 BMP file, uncompressed, 1 or 24 bits per pixel, bottom-up
// or top-down. A pixel is lit when its colour is light (mean of the three
// channels at least 128). False, with `pixels` all 0, for anything else.
bool DecodeBmp(const std::string& file, Pixels& pixels);
bool ReadBmp(const std::string& path, Pixels& pixels);

}  // namespace oledconvert
