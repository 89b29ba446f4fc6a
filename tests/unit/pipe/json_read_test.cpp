#include "pipe/json_read.h"

#include <gtest/gtest.h>

#include <limits>

namespace vt::pipe {
namespace {

Json Parse(const char* text) {
    return Json::parse(text);
}

TEST(JsonRead, MembersAreFoundNeverInserted) {
    const Json j = Parse(R"({"a":1})");
    EXPECT_NE(Member(j, "a"), nullptr);
    EXPECT_EQ(Member(j, "b"), nullptr);
    EXPECT_EQ(j.size(), 1u);
    EXPECT_EQ(Member(Parse("[1]"), "a"), nullptr);
    EXPECT_EQ(Member(Parse("3"), "a"), nullptr);
}

TEST(JsonRead, NumbersConvertAsTheProtocolReadsThem) {
    const Json j = Parse(R"({"i":-7,"u":4000000000,"f":3.9,"nf":-3.9,"t":true,"n":false,
                            "big":1e300,"nbig":-1e300,"s":"5","o":{},"z":null,"low":300,"neg":-1})");
    EXPECT_EQ(ReadInt32(Member(j, "i")), -7);
    EXPECT_EQ(ReadInt32(Member(j, "f")), 3);
    EXPECT_EQ(ReadInt32(Member(j, "nf")), -3);
    EXPECT_EQ(ReadInt32(Member(j, "t")), 1);
    EXPECT_EQ(ReadInt32(Member(j, "n")), 0);
    EXPECT_EQ(ReadUint32(Member(j, "u")), 4000000000u);
    EXPECT_EQ(ReadUint32(Member(j, "f")), 3u);
    EXPECT_EQ(ReadUint8(Member(j, "low")), 44);  // keeps the low byte
    EXPECT_EQ(ReadUint8(Member(j, "neg")), 255);
    EXPECT_EQ(ReadUint8(Member(j, "f")), 3);
    for (const char* wrong : {"big", "nbig", "s", "o", "z", "missing"}) {
        EXPECT_FALSE(ReadInt32(Member(j, wrong))) << wrong;
        EXPECT_FALSE(ReadUint32(Member(j, wrong))) << wrong;
        EXPECT_FALSE(ReadUint8(Member(j, wrong))) << wrong;
    }
    EXPECT_FALSE(ReadUint32(Member(j, "nf")));  // a negative float has no unsigned value
}

TEST(JsonRead, FloatLimitsAreTestedAfterTruncation) {
    const Json j = Parse(R"({"max":2147483647.9,"over":2147483648.0,"min":-2147483648.5})");
    EXPECT_EQ(ReadInt32(Member(j, "max")), std::numeric_limits<int32_t>::max());
    EXPECT_FALSE(ReadInt32(Member(j, "over")));
    EXPECT_EQ(ReadInt32(Member(j, "min")), std::numeric_limits<int32_t>::min());
    Json inf = Json(std::numeric_limits<double>::infinity());
    Json nan = Json(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(ReadInt32(&inf));
    EXPECT_FALSE(ReadUint8(&nan));
}

TEST(JsonRead, TextsAndBooleansOnlyFromTheirOwnTypes) {
    const Json j = Parse(R"({"s":"cs900","b":true,"n":1})");
    EXPECT_EQ(ReadString(Member(j, "s")), "cs900");
    EXPECT_FALSE(ReadString(Member(j, "n")));
    EXPECT_EQ(ReadBool(Member(j, "b")), true);
    EXPECT_FALSE(ReadBool(Member(j, "n")));
}

}  // namespace
}  // namespace vt::pipe
