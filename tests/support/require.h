#pragma once

// A test that cannot run here skips and says why, so ctest reports it as skipped. Where
// CORVEL_REQUIRE names what it needs (a comma-separated list such as "cgroup,x11"; CI sets it
// for what its machines have), the skip is a failure instead: there it must run.

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace corvel::testing {

inline bool required(const std::string& need)
{
    const char* list = std::getenv("CORVEL_REQUIRE");
    return list && ("," + std::string(list) + ",").find("," + need + ",") != std::string::npos;
}

} // namespace corvel::testing

#define CORVEL_SKIP_TEST(need, why)                                                                \
    {                                                                                              \
        if (::corvel::testing::required(need))                                                     \
            GTEST_FAIL() << "skipped where CORVEL_REQUIRE has " << (need) << ": " << why;          \
        GTEST_SKIP() << why;                                                                       \
    }
