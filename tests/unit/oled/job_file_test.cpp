// The job file: strict reading, the integer rule and tolerant lookups.
#include "oled/job_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>

#include "fakes/fake_event_log.h"
#include "fakes/fake_folders.h"
#include "fakes/temp_path.h"

namespace vt::oled {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class JobFileTest : public ::testing::Test {
  protected:
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    void TearDown() override { std::remove(path.c_str()); }
    JobFileRead Read(Json& config) { return file.Read(config); }
    const std::string path = vt::fakes::UniqueTempPath("job_file_test") + ".cfg";
    fakes::FakeFolders folders;
    fakes::FakeEventLog log;
    JobFileAt file{folders, log, path};
};

TEST_F(JobFileTest, OneValueFollowedOnlyByWhiteSpaceLoads) {
    Json config = "untouched";
    Write("{\"enable\": true}\r\n\t  \n");
    ASSERT_EQ(Read(config), JobFileRead::Loaded);
    EXPECT_EQ(config, Json({{"enable", true}}));

    for (const char* bad : {"{\"enable\": true} x", "{\"enable\": true}{}", "", "{\"enable\": tru}",
                            "{\"a\": 1} // note", "[1, 2,]"}) {
        Write(bad);
        Json kept = "untouched";
        EXPECT_EQ(Read(kept), JobFileRead::FormatError) << bad;
        EXPECT_EQ(kept, "untouched") << bad;
    }
    std::remove(path.c_str());
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_EQ(config, Json({{"enable", true}}));
}

TEST_F(JobFileTest, OnlyABooleanTrueEnablesTheJobAtStart) {
    const std::pair<const char*, bool> cases[] = {{"{\"enable\": true}", true},
                                                  {"{\"enable\": false}", false},
                                                  {"{}", false},
                                                  {"{\"enable\": 1}", false},
                                                  {"{\"enable\": \"true\"}", false},
                                                  {"[true]", false},
                                                  {"true", false}};
    for (const auto& [text, enabled] : cases) {
        Write(text);
        EXPECT_EQ(JobEnabledAtStart(file), enabled) << text;
    }
}

// A file that is no plain file, or too big, reads as a missing one; the
// entry that says why comes once, not at every read.
TEST_F(JobFileTest, ARefusedFileReadsAsMissingWithOneEntry) {
    Json config = "untouched";
    folders.refusals[path] = platform::UserFile::NotRegular;
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_FALSE(JobEnabledAtStart(file));
    EXPECT_THAT(log.messages(),
                ElementsAre(L"tw_service.cfg is a link or not a regular file, not read"));
    EXPECT_THAT(folders.limits, ElementsAre(size_t{1} << 20, size_t{1} << 20));

    // Good again, then too large: a new entry.
    folders.refusals.clear();
    Write("{}");
    EXPECT_EQ(Read(config), JobFileRead::Loaded);
    folders.refusals[path] = platform::UserFile::TooLarge;
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_EQ(log.messages().back(), L"tw_service.cfg is too large, not read");
    EXPECT_EQ(log.messages().size(), 2u);
    EXPECT_EQ(config, Json::object());

    // In a folder that may be redirected: named, once.
    folders.refusals[path] = platform::UserFile::Untrusted;
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_EQ(log.messages().back(), L"tw_service.cfg is in a folder others may redirect, not read");
    EXPECT_EQ(log.messages().size(), 3u);
}

// Parsed, a value costs far more than its text: a small file of empty
// objects would take tens of MiB. Such a file is refused unparsed.
TEST_F(JobFileTest, AFileOfTooManyValuesIsRefusedUnparsed) {
    std::string full = "[0";
    for (size_t i = 2; i < kMaxJobValues; ++i) {
        full += ",0";
    }
    full += "]";
    ASSERT_EQ(JsonValueBound(full), kMaxJobValues);
    Write(full);
    Json config;
    EXPECT_EQ(Read(config), JobFileRead::Loaded);
    EXPECT_THAT(log.messages(), IsEmpty());

    Write("[{}" + std::string(full.begin() + 2, full.end() - 1) + ",{}]");
    EXPECT_EQ(Read(config), JobFileRead::CannotOpen);
    EXPECT_THAT(log.messages(), ElementsAre(L"tw_service.cfg is too large, not read"));
    EXPECT_EQ(config.size(), kMaxJobValues - 1);  // the earlier file's

    // Separators inside texts are no values; a member counts at its ':' and
    // again at the ',' before it (a bound, not a count).
    EXPECT_EQ(JsonValueBound(R"({"a": "[,:\",]", "b": [1, 2]})"), 6u);
}

TEST(JobFileValues, IntegersTruncateFloatsCountBooleansAndClamp) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    // Far out, then on the edges of the range and one past them, from every
    // number type.
    // clang-format off
    const std::pair<Json, std::optional<int32_t>> cases[] = {
        {Json(3), 3}, {Json(2.9), 2}, {Json(-2.9), -2}, {Json(true), 1}, {Json(false), 0},
        {Json(1e300), kMax}, {Json(-1e300), kMin}, {Json(uint64_t{5000000000}), kMax},
        {Json(int64_t{-5000000000}), kMin}, {Json(uint64_t{2147483647}), kMax},
        {Json(uint64_t{2147483648}), kMax}, {Json(int64_t{2147483647}), kMax},
        {Json(int64_t{2147483646}), kMax - 1}, {Json(int64_t{-2147483648}), kMin},
        {Json(int64_t{-2147483647}), kMin + 1}, {Json(int64_t{-2147483649}), kMin},
        {Json(2147483646.9), kMax - 1}, {Json(2147483648.0), kMax},
        {Json(-2147483647.9), kMin + 1}, {Json(-2147483649.0), kMin},
        {Json("3"), std::nullopt}, {Json(nullptr), std::nullopt}, {Json::array({1}), std::nullopt}};
    // clang-format on
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(ReadInteger(value), expected) << value.dump();
    }
}

TEST(JobFileValues, ProfilesAreFoundByTheirDecimalKey) {
    const Json config = Json::parse(R"({"p0": {"cycle_order": [1]}, "p1": {"cycle_order": [1, 2]},
                                        "p10": {"cycle_order": [1, 2, 3]}, "p3": [4]})");
    EXPECT_EQ(ProfileView(config, 0).CycleCount(), 1u);
    EXPECT_EQ(ProfileView(config, 10).CycleCount(), 3u);
    EXPECT_EQ(ProfileView(config, 2).CycleCount(), 0u);  // no member
    EXPECT_EQ(ProfileView(config, 3).CycleCount(), 0u);  // not an object
    EXPECT_EQ(ProfileView(Json::array(), 1).CycleCount(), 0u);
}

// Items and the duration read through ReadInteger (its table holds the
// conversions; the wrong_types golden frames draw them); what is theirs
// alone: an order that is no array is empty, an index past it shows
// nothing, and a missing duration is none.
TEST(JobFileValues, WrongTypesReadAsTheNearestCase) {
    for (const char* order : {"null", "{\"a\": 1}", "5"}) {
        const Json config = Json::parse(std::string("{\"p1\": {\"cycle_order\": ") + order + "}}");
        EXPECT_EQ(ProfileView(config, 1).CycleCount(), 0u) << order;
    }
    const Json config = Json::parse(R"({"p1": {"cycle_order": [4.7], "duration": 2.9}})");
    const ProfileView view(config, 1);
    EXPECT_EQ(view.ItemAt(0), Item::Cpu);
    EXPECT_EQ(view.ItemAt(1), Item{-1});
    EXPECT_EQ(view.Duration(), 2);
    const Json none = Json::parse(R"({"p1": {}})");
    EXPECT_EQ(ProfileView(none, 1).Duration(), std::nullopt);
}

TEST(JobFileValues, CustomPixelsAreDarkOnlyForANumberEqualToZero) {
    const Json config = Json::parse(R"({"p1": {"custom_data": [
        [0, 0.0, -0.0, false, null, "0", [0], 1, 0.5, -3],
        [0],
        "column",
        null,
        {"0": 0}
    ]}})");
    const ProfileView view(config, 1);
    const uint8_t first[] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1 /* missing row */};
    for (int y = 0; y < 11; ++y) {
        EXPECT_EQ(view.CustomPixel(0, y), first[y]) << y;
    }
    EXPECT_EQ(view.CustomPixel(1, 0), 0);
    EXPECT_EQ(view.CustomPixel(1, 1), 1);
    for (int x = 2; x < 96; ++x) {
        EXPECT_EQ(view.CustomPixel(x, 0), 1) << x;  // not arrays, or missing
    }
    for (const char* data : {"\"x\"", "5"}) {
        const Json c = Json::parse(std::string("{\"p1\": {\"custom_data\": ") + data + "}}");
        EXPECT_EQ(ProfileView(c, 1).CustomPixel(0, 0), 1) << data;
    }
}

}  // namespace
}  // namespace vt::oled
