#include "oled/builtin_pictures.h"

#include <array>
#include <cmath>
#include <cstdlib>

#include "devices/twlink.h"

namespace vt::oled {

namespace {

constexpr int kW = devices::kOledWidth;
constexpr int kH = devices::kOledHeight;
using Picture = std::array<uint8_t, devices::kOledPixels>;

void Set(Picture& p, int x, int y) {
    if (x >= 0 && x < kW && y >= 0 && y < kH) {
        p[static_cast<size_t>(x * kH + y)] = 1;
    }
}

void Line(Picture& p, int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        Set(p, x0, y0);
        if (x0 == x1 && y0 == y1) {
            return;
        }
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

// Ridges as (x, y) corners; the slopes below them are dithered.
Picture Mountains() {
    Picture p{};
    const int ridge[][2] = {{0, 20},  {10, 14}, {17, 17}, {30, 6}, {38, 12}, {44, 9},
                            {55, 19}, {63, 13}, {70, 16}, {81, 8}, {95, 18}};
    int height[kW];
    for (size_t i = 0; i + 1 < std::size(ridge); ++i) {
        const int x0 = ridge[i][0], y0 = ridge[i][1], x1 = ridge[i + 1][0], y1 = ridge[i + 1][1];
        Line(p, x0, y0, x1, y1);
        for (int x = x0; x <= x1; ++x) {
            height[x] = y0 + (y1 - y0) * (x - x0) / (x1 - x0);
        }
    }
    for (int x = 0; x < kW; ++x) {
        for (int y = height[x] + 2; y < kH; ++y) {
            if ((x + y) % 2 == 0) {
                Set(p, x, y);
            }
        }
        Set(p, x, kH - 1);
    }
    // Snow on the two high peaks.
    for (int d = 1; d <= 2; ++d) {
        Line(p, 30 - d, 6 + d, 30 + d, 6 + d);
        Line(p, 81 - d, 8 + d, 81 + d, 8 + d);
    }
    // A crescent: a disc minus a disc shifted to the right.
    for (int x = 50; x < 66; ++x) {
        for (int y = 0; y < 12; ++y) {
            const int ax = x - 57, ay = y - 5, bx = x - 60, by = y - 4;
            if (ax * ax + ay * ay <= 16 && bx * bx + by * by > 12) {
                Set(p, x, y);
            }
        }
    }
    const int stars[][2] = {{4, 3}, {13, 7}, {21, 2}, {40, 4}, {46, 1}, {70, 3}, {76, 1}, {90, 5}};
    for (const auto& s : stars) {
        Set(p, s[0], s[1]);
    }
    Set(p, 21, 1), Set(p, 21, 3), Set(p, 20, 2), Set(p, 22, 2);  // one bright star
    return p;
}

// A frame, a pulse line with two beats and a heart at the right.
Picture Pulse() {
    Picture p{};
    for (int x = 0; x < kW; ++x) {
        Set(p, x, 0), Set(p, x, kH - 1);
    }
    for (int y = 0; y < kH; ++y) {
        Set(p, 0, y), Set(p, kW - 1, y);
    }
    const int trace[][2] = {{2, 13},  {14, 13}, {17, 10}, {20, 13}, {24, 13}, {27, 3},  {30, 20},
                            {33, 13}, {38, 13}, {41, 11}, {44, 13}, {52, 13}, {55, 10}, {58, 13},
                            {62, 13}, {65, 3},  {68, 20}, {71, 13}, {74, 13}};
    for (size_t i = 0; i + 1 < std::size(trace); ++i) {
        Line(p, trace[i][0], trace[i][1], trace[i + 1][0], trace[i + 1][1]);
    }
    // (x^2 + y^2 - 1)^3 - x^2 y^3 <= 0 is a heart; y grows upwards.
    for (int x = 76; x < 94; ++x) {
        for (int y = 2; y < 22; ++y) {
            const double hx = (x - 85.0) / 7.0, hy = (12.5 - y) / 7.0;
            const double r = hx * hx + hy * hy - 1.0;
            if (r * r * r - hx * hx * hy * hy * hy <= 0.0) {
                Set(p, x, y);
            }
        }
    }
    return p;
}

// Sixteen bars of a level meter, five pixels wide, with peak marks.
Picture LevelMeter() {
    Picture p{};
    const int levels[16] = {6, 10, 15, 19, 21, 17, 12, 14, 18, 20, 16, 11, 8, 12, 9, 5};
    for (int bar = 0; bar < 16; ++bar) {
        const int left = bar * 6;
        const int top = kH - levels[bar];
        for (int x = left; x < left + 5; ++x) {
            for (int y = top; y < kH; y += 2) {  // segments, one row apart
                Set(p, x, y);
            }
            if (top >= 3) {
                Set(p, x, top - 3);  // the peak, held a little higher
            }
        }
    }
    return p;
}

}  // namespace

const uint8_t* BuiltInPicture(int index) {
    static const std::array<Picture, kBuiltInPictureCount> pictures = {Mountains(), Pulse(),
                                                                       LevelMeter()};
    if (index < 0 || index >= kBuiltInPictureCount) {
        index = 0;
    }
    return pictures[static_cast<size_t>(index)].data();
}

}  // namespace vt::oled
