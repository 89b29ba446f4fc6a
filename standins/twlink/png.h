// A minimal PNG writer for the mouse screen frames: no compression (stored
// deflate blocks), so it needs no library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace twsim {

inline constexpr int kFrameScale = 8;

uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const void* data, size_t size);
// An 8-bit grey PNG; `grey` holds the rows top to bottom.
std::string EncodeGreyPng(int width, int height, const uint8_t* grey);
// A screen frame (96x24, column by column, 0 or 1 per pixel) as a picture
// scaled up kFrameScale times, lit pixels white on black.
std::string FramePng(const uint8_t* pixels);

}  // namespace twsim
