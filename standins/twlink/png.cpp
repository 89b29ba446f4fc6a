#include "png.h"

#include <algorithm>
#include <vector>

#include "devices/twlink.h"

namespace twsim {

namespace {

void Be32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>(v >> shift));
    }
}

void Chunk(std::string& out, const char* type, const std::string& data) {
    Be32(out, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    Be32(out, Crc32(body.data(), body.size()));
}

}  // namespace

uint32_t Crc32(const void* data, size_t size, uint32_t crc) {
    const auto* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

uint32_t Adler32(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + p[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::string EncodeGreyPng(int width, int height, const uint8_t* grey) {
    // Each row starts with its filter type, 0 (none).
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(grey) + static_cast<size_t>(y) * width,
                   static_cast<size_t>(width));
    }
    std::string zlib = "\x78\x01";
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - at, 65535);
        zlib.push_back(at + n == raw.size() ? '\1' : '\0');  // final block?
        const uint16_t len = static_cast<uint16_t>(n), nlen = static_cast<uint16_t>(~n);
        zlib += {static_cast<char>(len), static_cast<char>(len >> 8), static_cast<char>(nlen),
                 static_cast<char>(nlen >> 8)};
        zlib.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    Be32(zlib, Adler32(raw.data(), raw.size()));

    std::string header;
    Be32(header, static_cast<uint32_t>(width));
    Be32(header, static_cast<uint32_t>(height));
    header += {8, 0, 0, 0, 0};  // depth 8, grey, deflate, no filter, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", "");
    return png;
}

std::string FramePng(const uint8_t* pixels) {
    using vt::devices::kOledHeight;
    using vt::devices::kOledWidth;
    const int width = kOledWidth * kFrameScale, height = kOledHeight * kFrameScale;
    std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool lit = pixels[(x / kFrameScale) * kOledHeight + y / kFrameScale] != 0;
            grey[static_cast<size_t>(y) * width + x] = lit ? 255 : 0;
        }
    }
    return EncodeGreyPng(width, height, grey.data());
}

}  // namespace twsim
