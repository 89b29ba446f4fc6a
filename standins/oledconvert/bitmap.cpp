#include "bitmap.h"

#include <fstream>
#include <iterator>

#include "font.h"

namespace oledconvert {

namespace {

void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint32_t Get(const std::string& in, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<uint8_t>(in[at + static_cast<size_t>(i)]);
    }
    return v;
}

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;

}  // namespace

Pixels DrawText(const std::string& text, int layout) {
    Pixels pixels{};
    const int n = static_cast<int>(text.size());
    const int scaleX = n * (2 * kGlyphWidth + 2) - 2 <= kWidth ? 2 : 1;
    const int scaleY = 2;
    const int advance = scaleX * kGlyphWidth + scaleX;  // glyph plus the gap
    const int width = n > 0 ? n * advance - scaleX : 0;
    const int left = layout == 1 && width < kWidth ? (kWidth - width) / 2 : 0;
    const int top = (kHeight - scaleY * kGlyphHeight) / 2;
    for (int i = 0; i < n; ++i) {
        const int x0 = left + i * advance;
        if (x0 + scaleX * kGlyphWidth > kWidth) {
            break;
        }
        const uint8_t* glyph = Glyph(text[static_cast<size_t>(i)]);
        for (int gx = 0; gx < kGlyphWidth; ++gx) {
            for (int gy = 0; gy < kGlyphHeight; ++gy) {
                if (!(glyph[gx] & (1u << gy))) {
                    continue;
                }
                for (int dx = 0; dx < scaleX; ++dx) {
                    for (int dy = 0; dy < scaleY; ++dy) {
                        const int x = x0 + gx * scaleX + dx, y = top + gy * scaleY + dy;
                        pixels[static_cast<size_t>(x * kHeight + y)] = 1;
                    }
                }
            }
        }
    }
    return pixels;
}

std::string EncodeBmp(const Pixels& pixels) {
    constexpr uint32_t kRowBytes = kWidth / 8;  // 12, already a multiple of 4
    constexpr uint32_t kPalette = 2 * 4;
    constexpr uint32_t kOffset = kFileHeader + kInfoHeader + kPalette;
    constexpr uint32_t kImage = kRowBytes * kHeight;
    std::string out = "BM";
    Put32(out, kOffset + kImage);
    Put32(out, 0);
    Put32(out, kOffset);
    Put32(out, kInfoHeader);
    Put32(out, kWidth);
    Put32(out, kHeight);  // positive: rows bottom-up
    Put16(out, 1);        // planes
    Put16(out, 1);        // bits per pixel
    Put32(out, 0);        // no compression
    Put32(out, kImage);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 2);
    Put32(out, 0);
    Put32(out, 0x00000000);  // entry 0: black
    Put32(out, 0x00FFFFFF);  // entry 1: white
    for (int y = kHeight - 1; y >= 0; --y) {
        for (uint32_t byte = 0; byte < kRowBytes; ++byte) {
            uint8_t bits = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int x = static_cast<int>(byte) * 8 + bit;
                if (pixels[static_cast<size_t>(x * kHeight + y)]) {
                    bits |= static_cast<uint8_t>(0x80 >> bit);
                }
            }
            out.push_back(static_cast<char>(bits));
        }
    }
    return out;
}

bool WriteBmp(const std::string& path, const Pixels& pixels) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string data = EncodeBmp(pixels);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file);
}

bool DecodeBmp(const std::string& in, Pixels& pixels) {
    pixels.fill(0);
    if (in.size() < kFileHeader + kInfoHeader || in[0] != 'B' || in[1] != 'M') {
        return false;
    }
    const uint32_t offset = Get(in, 10, 4);
    const uint32_t infoSize = Get(in, 14, 4);
    const auto width = static_cast<int32_t>(Get(in, 18, 4));
    const auto height = static_cast<int32_t>(Get(in, 22, 4));
    const uint32_t planes = Get(in, 26, 2);
    const uint32_t depth = Get(in, 28, 2);
    const uint32_t compression = Get(in, 30, 4);
    if (infoSize < kInfoHeader || width != kWidth || (height != kHeight && height != -kHeight) ||
        planes != 1 || (depth != 1 && depth != 24) || compression != 0) {
        return false;
    }
    const size_t rowBytes = (static_cast<size_t>(kWidth) * depth + 31) / 32 * 4;
    if (offset > in.size() || in.size() - offset < rowBytes * kHeight) {
        return false;
    }
    // A 1-bit picture's colours come from its palette, right after the
    // headers; two entries unless the header says otherwise.
    bool lit[2] = {false, true};
    if (depth == 1) {
        uint32_t used = Get(in, 46, 4);
        used = used == 0 || used > 2 ? 2 : used;
        const size_t palette = kFileHeader + infoSize;
        if (palette + used * 4 > offset) {
            return false;
        }
        for (uint32_t i = 0; i < used; ++i) {
            const size_t at = palette + i * 4;  // blue, green, red, reserved
            const uint32_t sum = Get(in, at, 1) + Get(in, at + 1, 1) + Get(in, at + 2, 1);
            lit[i] = sum >= 3 * 128;
        }
    }
    for (int row = 0; row < kHeight; ++row) {
        const int y = height > 0 ? kHeight - 1 - row : row;
        const size_t start = offset + static_cast<size_t>(row) * rowBytes;
        for (int x = 0; x < kWidth; ++x) {
            bool on;
            if (depth == 1) {
                const uint32_t byte = Get(in, start + static_cast<size_t>(x / 8), 1);
                on = lit[(byte >> (7 - x % 8)) & 1];
            } else {
                const size_t at = start + static_cast<size_t>(x) * 3;
                on = Get(in, at, 1) + Get(in, at + 1, 1) + Get(in, at + 2, 1) >= 3 * 128;
            }
            pixels[static_cast<size_t>(x * kHeight + y)] = on ? 1 : 0;
        }
    }
    return true;
}

bool ReadBmp(const std::string& path, Pixels& pixels) {
    std::ifstream file(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return DecodeBmp(data, pixels);
}

}  // namespace oledconvert
