#pragma once

// Skips a test that cannot run here, saying why, so that ctest shows it as skipped; fails it
// instead where CORVEL_REQUIRE (comma-separated; scripts/test sets it on CI) names its need.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#define CORVEL_SKIP_TEST(need, why)                                                                \
    {                                                                                              \
        const char* const required = std::getenv("CORVEL_REQUIRE");                                \
        if (required &&                                                                            \
            ("," + std::string(required) + ",").find("," need ",") != std::string::npos)           \
            GTEST_FAIL() << "skipped where CORVEL_REQUIRE has " need ": " << why;                  \
        GTEST_SKIP() << why;                                                                       \
    }
