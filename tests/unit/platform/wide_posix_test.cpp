#include "platform/posix/wide_posix.h"

#include <gtest/gtest.h>

namespace vt::platform::posix {
namespace {

TEST(WidePosix, RoundTripsAllPlanes) {
    const std::wstring text = L"VTService \u00e9\u4e2d\U0001F600";
    EXPECT_EQ(ToUtf8(text), "VTService \xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(WidePosix, BrokenInputBecomesReplacementCharacters) {
    EXPECT_EQ(FromUtf8("a\xff"
                       "b"),
              L"a\uFFFDb");
    EXPECT_EQ(FromUtf8("a\xe4\xb8"), L"a\uFFFD");                         // cut short at the end
    EXPECT_EQ(FromUtf8("\xc3(x"), L"\uFFFD(x");                           // bad continuation
    EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xD800))), "\xef\xbf\xbd");  // lone surrogate
}

}  // namespace
}  // namespace vt::platform::posix
