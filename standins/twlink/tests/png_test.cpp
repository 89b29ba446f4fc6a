// The frame picture writer: checksums against published values, and
// pictures that read back pixel for pixel.
#include <gtest/gtest.h>

#include <cstring>

#include "devices/twlink.h"
#include "png_reader.h"

namespace twsim::test {
namespace {

TEST(Png, ChecksumsMatchPublishedValues) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("IEND", 4), 0xAE426082u);  // the CRC every PNG ends with
    EXPECT_EQ(Adler32("Wikipedia", 9), 0x11E60398u);
    EXPECT_EQ(Adler32("", 0), 1u);
}

// A frame's picture (768 x 193 bytes with the filter bytes) spans three
// stored blocks.
TEST(Png, FrameIsScaledWhiteOnBlackColumnByColumn) {
    using namespace vt::devices;
    uint8_t pixels[kOledPixels] = {};
    pixels[0] = 1;                      // column 0, row 0
    pixels[1] = 1;                      // column 0, row 1
    pixels[95 * kOledHeight + 23] = 1;  // column 95, row 23
    const auto p = ReadPicture(FramePng(pixels));
    ASSERT_TRUE(p);
    ASSERT_EQ(p->width, 768u);
    ASSERT_EQ(p->height, 192u);
    EXPECT_EQ(p->at(0, 0), 255);
    EXPECT_EQ(p->at(7, 15), 255);  // rows 0 and 1, eight lines each
    EXPECT_EQ(p->at(8, 0), 0);     // column 1 is dark
    EXPECT_EQ(p->at(0, 16), 0);    // row 2 is dark
    EXPECT_EQ(p->at(767, 191), 255);
    EXPECT_EQ(p->at(759, 191), 0);
    size_t lit = 0;
    for (uint8_t v : p->grey) {
        lit += v == 255;
    }
    EXPECT_EQ(lit, 3u * 64u);
}

}  // namespace
}  // namespace twsim::test
