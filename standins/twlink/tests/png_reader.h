// Reads back the PNG files the simulator writes (stored deflate blocks
// only), checking every length, checksum and filter byte on the way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "png.h"

namespace twsim::test {

struct Picture {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colour = 0;
    std::vector<uint8_t> grey;  // rows top to bottom, filter bytes removed
    uint8_t at(uint32_t x, uint32_t y) const { return grey[size_t(y) * width + x]; }
};

inline uint32_t Be32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

inline std::optional<Picture> ReadPicture(const std::string& png) {
    if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        return std::nullopt;
    }
    Picture p;
    std::string zlib;
    bool ended = false;
    for (size_t at = 8; !ended;) {
        if (at + 12 > png.size()) {
            return std::nullopt;
        }
        const uint32_t length = Be32(png, at);
        const std::string type = png.substr(at + 4, 4);
        if (at + 12 + length > png.size() ||
            Crc32(png.data() + at + 4, 4 + length) != Be32(png, at + 8 + length)) {
            return std::nullopt;
        }
        const std::string data = png.substr(at + 8, length);
        if (type == "IHDR" && length == 13) {
            p.width = Be32(data, 0);
            p.height = Be32(data, 4);
            p.depth = uint8_t(data[8]);
            p.colour = uint8_t(data[9]);
        } else if (type == "IDAT") {
            zlib += data;
        }
        ended = type == "IEND";
        at += 12 + length;
    }
    if (zlib.size() < 6 || uint8_t(zlib[0]) != 0x78 ||
        (uint8_t(zlib[0]) * 256 + uint8_t(zlib[1])) % 31) {
        return std::nullopt;
    }
    std::string raw;
    size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > zlib.size() || (zlib[at] & 6) != 0) {  // stored blocks only
            return std::nullopt;
        }
        last = zlib[at] & 1;
        const uint16_t len = uint8_t(zlib[at + 1]) | uint8_t(zlib[at + 2]) << 8;
        const uint16_t nlen = uint8_t(zlib[at + 3]) | uint8_t(zlib[at + 4]) << 8;
        if (uint16_t(~nlen) != len || at + 5 + len > zlib.size()) {
            return std::nullopt;
        }
        raw += zlib.substr(at + 5, len);
        at += 5 + len;
    }
    if (at + 4 != zlib.size() || Adler32(raw.data(), raw.size()) != Be32(zlib, at)) {
        return std::nullopt;
    }
    const size_t stride = size_t(p.width) + 1;
    if (p.depth != 8 || p.colour != 0 || raw.size() != stride * p.height) {
        return std::nullopt;
    }
    for (uint32_t y = 0; y < p.height; ++y) {
        if (raw[y * stride] != 0) {
            return std::nullopt;
        }
        p.grey.insert(p.grey.end(), raw.begin() + y * stride + 1, raw.begin() + (y + 1) * stride);
    }
    return p;
}

}  // namespace twsim::test
