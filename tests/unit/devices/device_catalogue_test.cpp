#include "devices/device_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace vt::devices {
namespace {

TEST(DeviceCatalogue, EveryRowKeepsTheLinesAttributeRules) {
    std::set<std::pair<uint16_t, uint16_t>> ids;
    int wideB = 0;
    for (const CatalogueRow& r : DeviceCatalogue) {
        const std::string name = r.name;
        EXPECT_TRUE(ids.insert({r.vendorId, r.productId}).second) << "duplicate ids: " << name;
        EXPECT_EQ(r.attrC, 1) << name;
        EXPECT_TRUE(r.attrA == 0 || r.attrA == 1 || r.attrA == 3 || r.attrA == -1) << name;
        wideB += r.attrB == 0xFF00;
        EXPECT_TRUE(r.attrB == -1 || r.attrB == 0xFF00) << name;
        const bool dongle = name.size() > 7 && name.substr(name.size() - 7) == "_DONGLE";
        const bool compact = name == "KB403B" || name == "KB403W" || name == "KB405" ||
                             name == "KB406" || name == "KB407";
        EXPECT_EQ(r.attrD, dongle ? 4 : compact ? 1 : 0) << name;
    }
    EXPECT_EQ(wideB, 1);
}

TEST(DeviceCatalogue, OnlyTheTwoCompanionRowsAreCompanions) {
    EXPECT_TRUE(IsCompanionDevice(0x012D, 0x3A7C));
    EXPECT_TRUE(IsCompanionDevice(0x007B, 0x3A7C));
    EXPECT_FALSE(IsCompanionDevice(0x006B, 0x3A7C));   // the RX410
    EXPECT_FALSE(IsCompanionDevice(0x3A7C, 0x012D));   // swapped
    EXPECT_FALSE(IsCompanionDevice(0x012D, 0x1234));   // another maker
    EXPECT_FALSE(IsCompanionDevice(0x1012D, 0x3A7C));  // compared as 32-bit values
    for (const CatalogueRow& r : DeviceCatalogue) {
        const bool companion = &r == &DeviceCatalogue[29] || &r == &DeviceCatalogue[30];
        EXPECT_EQ(IsCompanionDevice(r.productId, r.vendorId), companion) << r.name;
    }
}

}  // namespace
}  // namespace vt::devices
