#include "common/text.h"

#include <gtest/gtest.h>

namespace vt {
namespace {

TEST(Text, HexIsEightLowerCaseDigits) {
    EXPECT_EQ(Hex8(0), L"00000000");
    EXPECT_EQ(Hex8(0x431), L"00000431");
    EXPECT_EQ(Hex8(0xDEADBEEF), L"deadbeef");
    EXPECT_EQ(FailedWithError(L"CreateService", 0x431), L"CreateService failed w/err 0x00000431");
}

TEST(Text, FitBufferLeavesRoomForTheTerminator) {
    EXPECT_EQ(FitBuffer(L"abcdef", 4), L"abc");
    EXPECT_EQ(FitBuffer(L"abc", 4), L"abc");
    EXPECT_EQ(FitBuffer(L"abc", 0), L"");
}

TEST(Text, CaseInsensitiveWholeWord) {
    EXPECT_TRUE(EqualsIgnoreCase(L"INSTALL", L"install"));
    EXPECT_TRUE(EqualsIgnoreCase(L"Remove", L"remove"));
    EXPECT_FALSE(EqualsIgnoreCase(L"installx", L"install"));
    EXPECT_FALSE(EqualsIgnoreCase(L"instal", L"install"));
    EXPECT_FALSE(EqualsIgnoreCase(L"\u0130nstall", L"install"));  // only ASCII folds
}

}  // namespace
}  // namespace vt
