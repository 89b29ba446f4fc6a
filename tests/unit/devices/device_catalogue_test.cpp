#include "devices/device_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace vt::devices {
namespace {

TEST(DeviceCatalogue, DrivenAndCompanionRowsStandWhereTheLineHasThem) {
    struct Expect {
        int row;
        const char* name;
        uint16_t pid;
        int32_t a, d;
    };
    const Expect rows[] = {{0, "RX410", 0x006B, 1, 0},
                           {21, "HV230", 0x0113, 3, 0},
                           {24, "HV210", 0x0111, -1, 0},
                           {29, "QT500G", 0x012D, 1, 0},
                           {30, "QT500C", 0x007B, 1, 0},
                           {36, "RX420", 0x011B, 1, 0},
                           {38, "KB505V2", 0x0147, 1, 0},
                           {39, "KB507V2", 0x0145, 1, 0},
                           {40, "KB403B", 0x0149, 1, 1},
                           {41, "KB403W", 0x014B, 1, 1},
                           {42, "LQ120", 0x0155, 0, 0},
                           {44, "KB303", 0x014F, 3, 0},
                           {45, "KB401B", 0x0157, 1, 0},
                           {46, "KB401W", 0x0159, 1, 0},
                           {50, "KB407", 0x015B, 1, 1},
                           {51, "KB405", 0x015D, 1, 1},
                           {67, "KB406", 0x01AB, 1, 1},
                           {71, "KB709", 0x016D, 3, 0},
                           {73, "KB711", 0x016F, 3, 0},
                           {82, "KB709_UNIVERSAL_DONGLE", 0x0183, 3, 4},
                           {83, "KB711_UNIVERSAL_DONGLE", 0x01C3, 3, 4},
                           {84, "HV150", 0x01C7, 3, 0},
                           {85, "CS900", 0x01C1, 0, 0}};
    for (const auto& e : rows) {
        const CatalogueRow& r = DeviceCatalogue.at(static_cast<size_t>(e.row));
        EXPECT_EQ(std::string(r.name), e.name) << "row " << e.row;
        EXPECT_EQ(r.vendorId, 0x3A7C) << e.name;
        EXPECT_EQ(r.productId, e.pid) << e.name;
        EXPECT_EQ(r.attrA, e.a) << e.name;
        EXPECT_EQ(r.attrB, -1) << e.name;
        EXPECT_EQ(r.attrD, e.d) << e.name;
    }
}

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
