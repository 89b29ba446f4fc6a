// The converter stand-in: text drawn in the built-in font, and BMP files of
// the screen size read back into pixel bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "bitmap.h"
#include "converter.h"
#include "fakes/temp_path.h"

namespace oledconvert {
namespace {

size_t Lit(const Pixels& p) {
    return static_cast<size_t>(std::count(p.begin(), p.end(), 1));
}

// A column range that holds every lit pixel.
std::pair<int, int> LitColumns(const Pixels& p) {
    int first = kWidth, last = -1;
    for (int x = 0; x < kWidth; ++x) {
        for (int y = 0; y < kHeight; ++y) {
            if (p[static_cast<size_t>(x * kHeight + y)]) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

void Put(std::string& s, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

// A 24-bit BMP, top-down when `topDown`, with `lit` drawn light.
std::string Bmp24(const Pixels& lit, bool topDown) {
    const size_t row = kWidth * 3;  // 288, a multiple of 4
    std::string s(54 + row * kHeight, '\0');
    s[0] = 'B', s[1] = 'M';
    Put(s, 2, static_cast<uint32_t>(s.size()), 4);
    Put(s, 10, 54, 4);
    Put(s, 14, 40, 4);
    Put(s, 18, kWidth, 4);
    Put(s, 22, static_cast<uint32_t>(topDown ? -kHeight : kHeight), 4);
    Put(s, 26, 1, 2);
    Put(s, 28, 24, 2);
    for (int r = 0; r < kHeight; ++r) {
        const int y = topDown ? r : kHeight - 1 - r;
        for (int x = 0; x < kWidth; ++x) {
            const bool on = lit[static_cast<size_t>(x * kHeight + y)];
            const size_t at = 54 + static_cast<size_t>(r) * row + static_cast<size_t>(x) * 3;
            // Light grey and dark red: only brightness counts.
            Put(s, at, on ? 0xC0C0C0 : 0x800000, 3);
        }
    }
    return s;
}

Pixels Diagonal() {
    Pixels p{};
    for (int x = 0; x < kWidth; ++x) {
        p[static_cast<size_t>(x * kHeight + x % kHeight)] = 1;
    }
    p[static_cast<size_t>(95 * kHeight + 0)] = 1;  // a corner, to catch flips
    return p;
}

// How the job's texts are drawn (large, centred, eleven characters doubled
// only in height) and how its 1-bit files read back are the golden frames'
// part (tests/data/oled); here what no job screen shows.
TEST(OledConvert, LeftLayoutBlankTextsAndUnknownCharacters) {
    EXPECT_EQ(LitColumns(DrawText("I", 0)).first, 2);  // the left layout
    EXPECT_EQ(Lit(DrawText("", 1)), 0u);
    EXPECT_EQ(Lit(DrawText("   ", 1)), 0u);
    EXPECT_GT(Lit(DrawText("\x01", 1)), 0u);  // unknown characters show as a box
}

TEST(OledConvert, TwentyFourBitFilesReadAndAnInvertedPaletteInverts) {
    const Pixels diagonal = Diagonal();
    Pixels read{};
    for (bool topDown : {false, true}) {
        ASSERT_TRUE(DecodeBmp(Bmp24(diagonal, topDown), read)) << topDown;
        EXPECT_EQ(read, diagonal) << topDown;
    }
    // A palette whose entry 0 is the light one inverts the picture.
    std::string inverted = EncodeBmp(diagonal);
    Put(inverted, 54, 0xFFFFFF, 4);
    Put(inverted, 58, 0x000000, 4);
    ASSERT_TRUE(DecodeBmp(inverted, read));
    EXPECT_EQ(Lit(read), static_cast<size_t>(kWidth * kHeight) - Lit(diagonal));
}

TEST(OledConvert, AnythingElseGivesABlankFrame) {
    const std::string good = EncodeBmp(Diagonal());
    std::vector<std::string> bad = {"", good.substr(0, good.size() - 1) /* short pixel data */,
                                    "XM" + good.substr(2)};
    // Header fields patched one at a time: width, height, bit depth,
    // compression, and a pixel offset past the file.
    const struct {
        size_t at;
        uint32_t value;
        int bytes;
    } patches[] = {{18, 97, 4}, {22, 25, 4}, {28, 8, 2}, {30, 1, 4}, {10, 0xFFFFFFF0u, 4}};
    for (const auto& patch : patches) {
        bad.push_back(good);
        Put(bad.back(), patch.at, patch.value, patch.bytes);
    }
    for (size_t i = 0; i < bad.size(); ++i) {
        Pixels read;
        read.fill(1);
        EXPECT_FALSE(DecodeBmp(bad[i], read)) << i;
        EXPECT_EQ(Lit(read), 0u) << i;
    }
}

// What a text looks like after its way through the file is the golden
// frames' part; here the answers (the job ignores them) and a file the
// converter cannot read.
TEST(OledConvert, TheConverterObjectGoesThroughTheFile) {
    vt::oled::OledConverter* c = Converter();
    const std::string path = vt::fakes::UniqueTempPath("oledconvert_test") + ".bmp";
    EXPECT_EQ(c->InitConverter(0), 1);
    EXPECT_EQ(c->TextToBitmap("DPI 4000", path.c_str(), 1), 1);
    uint8_t pixels[kWidth * kHeight];
    EXPECT_EQ(c->BitmapToFrame(path.c_str(), pixels), 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a picture";
    std::fill(std::begin(pixels), std::end(pixels), uint8_t{1});
    EXPECT_EQ(c->BitmapToFrame(path.c_str(), pixels), 0);
    EXPECT_TRUE(std::all_of(std::begin(pixels), std::end(pixels), [](uint8_t p) { return !p; }));
    std::remove(path.c_str());
    EXPECT_EQ(c->BitmapToFrame(path.c_str(), pixels), 0);
}

}  // namespace
}  // namespace oledconvert
