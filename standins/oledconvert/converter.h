// The converter object the stand-in library hands out.
#pragma once

#include "oled/oled_converter.h"

namespace oledconvert {

// The one converter of the process; it keeps no state between calls.
vt::oled::OledConverter* Converter();

}  // namespace oledconvert
