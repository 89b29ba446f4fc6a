// The contract with the text converter library OledDataConvert.dll
// (liboledconvert.so on Linux): its one export hands out a converter object
// whose virtual operations turn a text into a bitmap file and a bitmap file
// into the pixel bytes of a mouse screen frame.
//
// The object belongs to the library and is never deleted by the service, so
// the interface declares no virtual destructor (an extra slot would shift
// every operation). The order of the slots is the library's binary layout;
// the third one is never called by the service but keeps its place.
#pragma once

#include <cstdint>

#include "devices/twlink.h"
#include "platform/callconv.h"
#include "platform/library.h"

namespace vt::oled {

class OledConverter {
  public:
    // Called once, with 0, before any other operation.
    virtual int32_t InitConverter(int32_t reserved) = 0;
    // Draws `text` into a 96 x 24 bitmap file written at `bitmapPath`; the
    // service always passes 1 as `layout` (the text centred on the screen).
    virtual int32_t TextToBitmap(const char* text, const char* bitmapPath, int32_t layout) = 0;
    virtual int32_t Reserved() = 0;
    // Fills the 2304 pixel bytes (column by column, each column top to
    // bottom, 0 or 1) from the bitmap file at `bitmapPath`.
    virtual int32_t BitmapToFrame(const char* bitmapPath, uint8_t pixels[devices::kOledPixels]) = 0;

  protected:
    ~OledConverter() = default;
};

extern "C" {
using OledDataConvertFn = OledConverter*(VT_CDECL*)();
}

inline constexpr char kOledDataConvertExport[] = "oledDataConvert";
inline constexpr platform::LibraryName kOledConvertLibrary{L"OledDataConvert.dll",
                                                           "liboledconvert.so"};

}  // namespace vt::oled
