// A scratch path of this process's own: test processes run side by side
// (ctest -j, several build trees), and a shared name makes them read each
// other's files.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vt::fakes {

inline std::string UniqueTempPath(const std::string& stem) {
    static const std::string tag = std::to_string(std::random_device{}());
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + stem + "_" + (test != nullptr ? test->name() : "") + "_" + tag;
}

}  // namespace vt::fakes
