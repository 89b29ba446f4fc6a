#include "converter.h"

#include <cstring>

#include "bitmap.h"

namespace oledconvert {

namespace {

class StandInConverter final : public vt::oled::OledConverter {
  public:
    int32_t InitConverter(int32_t) override { return 1; }
    int32_t TextToBitmap(const char* text, const char* bitmapPath, int32_t layout) override {
        if (!text || !bitmapPath) {
            return 0;
        }
        return WriteBmp(bitmapPath, DrawText(text, layout)) ? 1 : 0;
    }
    int32_t Reserved() override { return 0; }
    int32_t BitmapToFrame(const char* bitmapPath, uint8_t* pixels) override {
        if (!pixels) {
            return 0;
        }
        Pixels read{};
        const bool ok = bitmapPath && ReadBmp(bitmapPath, read);
        std::memcpy(pixels, read.data(), read.size());  // blank when unreadable
        return ok ? 1 : 0;
    }
};

}  // namespace

vt::oled::OledConverter* Converter() {
    static StandInConverter converter;
    return &converter;
}

}  // namespace oledconvert
