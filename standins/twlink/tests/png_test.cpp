// The frame picture writer: checksums against published values, and a
// frame's picture byte for byte (its checksum), as a PNG reader once
// checked it: 768 x 192, white on black, each pixel eight by eight.
#include <gtest/gtest.h>

#include "devices/twlink.h"
#include "png.h"

namespace twsim::test {
namespace {

TEST(Png, ChecksumsMatchPublishedValues) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("IEND", 4), 0xAE426082u);  // the CRC every PNG ends with
    EXPECT_EQ(Adler32("Wikipedia", 9), 0x11E60398u);
    EXPECT_EQ(Adler32("", 0), 1u);
}

TEST(Png, AFrameGivesTheSamePicture) {
    using namespace vt::devices;
    uint8_t pixels[kOledPixels] = {};
    pixels[0] = 1;                      // column 0, row 0
    pixels[1] = 1;                      // column 0, row 1
    pixels[95 * kOledHeight + 23] = 1;  // column 95, row 23
    const std::string png = FramePng(pixels);
    EXPECT_EQ(png.size(), 147726u);
    EXPECT_EQ(Crc32(png.data(), png.size()), 0x008F6901u);
}

}  // namespace
}  // namespace twsim::test
