// Both builds reach the one nlohmann::json header from Debian; requests and
// the job file are parsed with exceptions off, so a bad text must come back
// discarded rather than throw.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

TEST(JsonHeader, BadTextIsDiscardedWithoutThrowing) {
    const auto good =
        nlohmann::json::parse(R"({"mod":"kb709","param":{"type":3}})", nullptr, false);
    ASSERT_TRUE(good.is_object());
    EXPECT_EQ(good["param"]["type"].get<int>(), 3);
    const auto bad = nlohmann::json::parse("{\"mod\":", nullptr, false);
    EXPECT_TRUE(bad.is_discarded());
}
