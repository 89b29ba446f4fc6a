// Settings-file integers read from the file's text, held to the Windows
// call's rules.
#include "common/profile_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vt {
namespace {

uint32_t Value(const std::string& text, uint32_t defaultValue = 0) {
    return ProfileIntFromText(text, "CS900_MODE_19", "value", defaultValue);
}

TEST(ProfileInt, FindsTheKeyInItsSectionWhateverTheCaseAndSpacing) {
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=42\n"), 42u);
    EXPECT_EQ(Value("[other]\nvalue=1\n[ cs900_mode_19 ]\r\n  VALUE  =  42  \r\n[x]\nvalue=3"),
              42u);
    EXPECT_EQ(Value("\xEF\xBB\xBF[CS900_MODE_19]\nvalue=7"), 7u);  // byte-order mark, no newline
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=5\nvalue=6\n"), 5u);   // the first one counts
    EXPECT_EQ(Value("[CS900_MODE_19]\n;value=3\nvalue=4\n"), 4u);  // comments are skipped
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=\"15\"\n"), 15u);      // quotes are taken off
}

TEST(ProfileInt, MissingSectionKeyOrValueGivesTheDefault) {
    EXPECT_EQ(Value("", 9), 9u);
    EXPECT_EQ(Value("[other]\nvalue=1\n", 9), 9u);
    EXPECT_EQ(Value("value=1\n[CS900_MODE_19]\nother=2\n", 9), 9u);  // before any section
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=\n", 9), 9u);
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue\n", 9), 9u);
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalues=1\n", 9), 9u);
}

TEST(ProfileInt, TheLeadingIntegerOnlyWithSignAndWrap) {
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=12abc\n", 9), 12u);
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=abc\n", 9), 0u);   // present but no number: 0
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=0x10\n", 9), 0u);  // decimal only
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=-7\n"), static_cast<uint32_t>(-7));
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=+8\n"), 8u);
    EXPECT_EQ(Value("[CS900_MODE_19]\nvalue=4294967297\n"), 1u);
}

TEST(ProfileInt, AFileSavedAsUtf16) {
    const std::string ascii = "[CS900_MODE_19]\r\nvalue=321\r\n";
    std::string wide = "\xFF\xFE";
    for (char c : ascii) {
        wide += c;
        wide += '\0';
    }
    EXPECT_EQ(Value(wide), 321u);
}

}  // namespace
}  // namespace vt
