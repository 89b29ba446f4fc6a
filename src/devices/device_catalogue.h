// The product line's device table. Only vendor and product ids are read;
// the attributes are carried as the line defines them.
#pragma once

#include <array>
#include <cstdint>

namespace vt::devices {

struct CatalogueRow {
    const char* name;
    uint16_t vendorId;
    uint16_t productId;
    int32_t attrA;
    int32_t attrB;
    int32_t attrC;
    int32_t attrD;
};

inline constexpr int kCatalogueRows = 87;
// Rows of the two models whose presence keeps the companion program running.
inline constexpr int kCompanionRows[] = {29, 30};

extern const std::array<CatalogueRow, kCatalogueRows> DeviceCatalogue;

// True when (productId, vendorId) are the ids of a companion row.
bool IsCompanionDevice(uint32_t productId, uint32_t vendorId);

}  // namespace vt::devices
