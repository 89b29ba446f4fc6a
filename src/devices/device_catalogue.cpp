#include "devices/device_catalogue.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "devices/model_table.h"

namespace vt::devices {

constexpr std::array<CatalogueRow, kCatalogueRows> DeviceCatalogue = {{
    {"RX410", 0x3A7C, 0x006B, 1, -1, 1, 0},                   // 0
    {"RX300", 0x3A7C, 0x0062, 3, -1, 1, 0},                   // 1
    {"RX310", 0x3A7C, 0x0064, 0, -1, 1, 0},                   // 2
    {"RX320", 0x3A7C, 0x0066, 1, -1, 1, 0},                   // 3
    {"RX330", 0x3A7C, 0x0068, -1, -1, 1, 0},                  // 4
    {"RX340", 0x3A7C, 0x006A, 1, -1, 1, 0},                   // 5
    {"RX350", 0x3A7C, 0x006C, 3, -1, 1, 0},                   // 6
    {"RX360", 0x3A7C, 0x006E, 0, -1, 1, 0},                   // 7
    {"RX370", 0x3A7C, 0x0070, 1, -1, 1, 0},                   // 8
    {"RX380", 0x3A7C, 0x0072, -1, -1, 1, 0},                  // 9
    {"RX390", 0x3A7C, 0x0074, 1, -1, 1, 0},                   // 10
    {"RX400", 0x3A7C, 0x0076, 3, -1, 1, 0},                   // 11
    {"RX405", 0x3A7C, 0x0078, 0, -1, 1, 0},                   // 12
    {"RX412", 0x3A7C, 0x007A, 1, -1, 1, 0},                   // 13
    {"RX415", 0x3A7C, 0x007C, -1, -1, 1, 0},                  // 14
    {"RX418", 0x3A7C, 0x007E, 1, -1, 1, 0},                   // 15
    {"HV100", 0x3A7C, 0x0080, 3, -1, 1, 0},                   // 16
    {"HV110", 0x3A7C, 0x0082, 0, -1, 1, 0},                   // 17
    {"HV120", 0x3A7C, 0x0084, 1, -1, 1, 0},                   // 18
    {"HV130", 0x3A7C, 0x0086, -1, -1, 1, 0},                  // 19
    {"HV140", 0x3A7C, 0x0088, 1, -1, 1, 0},                   // 20
    {"HV230", 0x3A7C, 0x0113, 3, -1, 1, 0},                   // 21
    {"HV200", 0x3A7C, 0x008A, 0, -1, 1, 0},                   // 22
    {"HV220", 0x3A7C, 0x008C, 1, -1, 1, 0},                   // 23
    {"HV210", 0x3A7C, 0x0111, -1, -1, 1, 0},                  // 24
    {"HV240", 0x3A7C, 0x008E, 1, -1, 1, 0},                   // 25
    {"QT300", 0x3A7C, 0x0090, 3, -1, 1, 0},                   // 26
    {"QT310", 0x3A7C, 0x0092, 0, -1, 1, 0},                   // 27
    {"QT400", 0x3A7C, 0x0094, 1, -1, 1, 0},                   // 28
    {"QT500G", 0x3A7C, 0x012D, 1, -1, 1, 0},                  // 29
    {"QT500C", 0x3A7C, 0x007B, 1, -1, 1, 0},                  // 30
    {"KB100", 0x3A7C, 0x0096, 3, -1, 1, 0},                   // 31
    {"KB110", 0x3A7C, 0x0098, 0, -1, 1, 0},                   // 32
    {"KB200", 0x3A7C, 0x009A, 1, -1, 1, 0},                   // 33
    {"KB210", 0x3A7C, 0x009C, -1, -1, 1, 0},                  // 34
    {"KB220", 0x3A7C, 0x009E, 1, -1, 1, 0},                   // 35
    {"RX420", 0x3A7C, 0x011B, 1, -1, 1, 0},                   // 36
    {"KB300", 0x3A7C, 0x00A0, 0, -1, 1, 0},                   // 37
    {"KB505V2", 0x3A7C, 0x0147, 1, -1, 1, 0},                 // 38
    {"KB507V2", 0x3A7C, 0x0145, 1, -1, 1, 0},                 // 39
    {"KB403B", 0x3A7C, 0x0149, 1, -1, 1, 1},                  // 40
    {"KB403W", 0x3A7C, 0x014B, 1, -1, 1, 1},                  // 41
    {"LQ120", 0x3A7C, 0x0155, 0, -1, 1, 0},                   // 42
    {"KB310", 0x3A7C, 0x00A2, 1, -1, 1, 0},                   // 43
    {"KB303", 0x3A7C, 0x014F, 3, -1, 1, 0},                   // 44
    {"KB401B", 0x3A7C, 0x0157, 1, -1, 1, 0},                  // 45
    {"KB401W", 0x3A7C, 0x0159, 1, -1, 1, 0},                  // 46
    {"KB320", 0x3A7C, 0x00A4, 0, -1, 1, 0},                   // 47
    {"KB330", 0x3A7C, 0x00A6, 1, -1, 1, 0},                   // 48
    {"KB402", 0x3A7C, 0x00A8, -1, -1, 1, 0},                  // 49
    {"KB407", 0x3A7C, 0x015B, 1, -1, 1, 1},                   // 50
    {"KB405", 0x3A7C, 0x015D, 1, -1, 1, 1},                   // 51
    {"KB404", 0x3A7C, 0x00AA, 0, -1, 1, 0},                   // 52
    {"KB500", 0x3A7C, 0x00AC, 1, -1, 1, 0},                   // 53
    {"KB501", 0x3A7C, 0x00AE, -1, -1, 1, 0},                  // 54
    {"KB502", 0x3A7C, 0x00B0, 1, -1, 1, 0},                   // 55
    {"KB503", 0x3A7C, 0x00B2, 3, -1, 1, 0},                   // 56
    {"KB504", 0x3A7C, 0x00B4, 0, -1, 1, 0},                   // 57
    {"KB506", 0x3A7C, 0x00B6, 1, -1, 1, 0},                   // 58
    {"KB508", 0x3A7C, 0x00B8, -1, -1, 1, 0},                  // 59
    {"KB600", 0x3A7C, 0x00BB, 1, -1, 1, 0},                   // 60
    {"KB601", 0x3A7C, 0x00BE, 3, -1, 1, 0},                   // 61
    {"KB602", 0x3A7C, 0x00C1, 0, -1, 1, 0},                   // 62
    {"KB700", 0x3A7C, 0x00C4, 1, -1, 1, 0},                   // 63
    {"KB701", 0x3A7C, 0x00C7, -1, -1, 1, 0},                  // 64
    {"KB702", 0x3A7C, 0x00CA, 1, -1, 1, 0},                   // 65
    {"KB705", 0x3A7C, 0x00CD, 3, -1, 1, 0},                   // 66
    {"KB406", 0x3A7C, 0x01AB, 1, -1, 1, 1},                   // 67
    {"KB707", 0x3A7C, 0x00D0, 1, -1, 1, 0},                   // 68
    {"KB710", 0x3A7C, 0x00D3, -1, -1, 1, 0},                  // 69
    {"KB712", 0x3A7C, 0x00D6, 1, -1, 1, 0},                   // 70
    {"KB709", 0x3A7C, 0x016D, 3, -1, 1, 0},                   // 71
    {"KB713", 0x3A7C, 0x00D9, 0, -1, 1, 0},                   // 72
    {"KB711", 0x3A7C, 0x016F, 3, -1, 1, 0},                   // 73
    {"RX430", 0x3A7C, 0x00DC, -1, -1, 1, 0},                  // 74
    {"RX440", 0x3A7C, 0x00DF, 1, -1, 1, 0},                   // 75
    {"RX450_DONGLE", 0x3A7C, 0x00E2, 3, -1, 1, 4},            // 76
    {"RX460_DONGLE", 0x3A7C, 0x00E5, 0, -1, 1, 4},            // 77
    {"HV250_DONGLE", 0x3A7C, 0x00E8, 1, -1, 1, 4},            // 78
    {"MP100", 0x3A7C, 0x00EB, -1, -1, 1, 0},                  // 79
    {"MP200", 0x3A7C, 0x00EE, 1, 0xFF00, 1, 0},               // 80
    {"LQ100", 0x3A7C, 0x00F1, 3, -1, 1, 0},                   // 81
    {"KB709_UNIVERSAL_DONGLE", 0x3A7C, 0x0183, 3, -1, 1, 4},  // 82
    {"KB711_UNIVERSAL_DONGLE", 0x3A7C, 0x01C3, 3, -1, 1, 4},  // 83
    {"HV150", 0x3A7C, 0x01C7, 3, -1, 1, 0},                   // 84
    {"CS900", 0x3A7C, 0x01C1, 0, -1, 1, 0},                   // 85
    {"CS800", 0x3A7C, 0x00F4, 3, -1, 1, 0},                   // 86
}};

namespace {

// Each id of a driven model stands in the catalogue under the model's name
// (or a variant of it: "KB505V2", "KB401B" and "KB401W").
constexpr bool InCatalogue(const ModelRow& row) {
    return std::ranges::all_of(row.facts.productIds, [&row](uint16_t id) {
        return id == 0 || std::ranges::any_of(DeviceCatalogue, [&](const CatalogueRow& c) {
                   return c.vendorId == 0x3A7C && c.productId == id &&
                          std::string_view(c.name).starts_with(row.facts.name);
               });
    });
}
static_assert(std::ranges::all_of(kModelRows, InCatalogue),
              "every driven id stands in the catalogue under its model's name");

}  // namespace

bool IsCompanionDevice(uint32_t productId, uint32_t vendorId) {
    for (int row : kCompanionRows) {
        const CatalogueRow& r = DeviceCatalogue[static_cast<std::size_t>(row)];
        if (productId == r.productId && vendorId == r.vendorId) {
            return true;
        }
    }
    return false;
}

}  // namespace vt::devices
