// The three pictures stored with the program (item codes 10, 11 and 12):
// 2304 pixel bytes each, column by column, each column top to bottom.
#pragma once

#include <cstdint>

namespace vt::oled {

inline constexpr int kBuiltInPictureCount = 3;

// Picture 0: mountains under a crescent moon and stars. Picture 1: a pulse
// line with a heart, in a frame. Picture 2: the bars of a level meter.
// Any other index gives picture 0.
const uint8_t* BuiltInPicture(int index);

}  // namespace vt::oled
