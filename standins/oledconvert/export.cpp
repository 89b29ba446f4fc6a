// The library's one export.
#include "converter.h"

#ifdef _WIN32
#define OLEDCONVERT_EXPORT __declspec(dllexport)
#else
#define OLEDCONVERT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" OLEDCONVERT_EXPORT vt::oled::OledConverter* VT_CDECL oledDataConvert() {
    return oledconvert::Converter();
}
