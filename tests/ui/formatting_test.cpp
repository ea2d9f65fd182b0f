#include "formatting.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using namespace corvel;

namespace {

// The texts at their boundaries are checked where they are shown: the panel's rows and total,
// the item's label, the terminal's list.

// Rounding is printf's, halves included, whatever the C library's locale (the panel's test
// runs the texts under a decimal comma).
TEST(Formatting, RoundsAsPrintfInTheCLocale)
{
    for (const double v : {0.5, 1.5, 2.5, 0.05, 0.15, 0.25, 12.45, 99.95, 1e300}) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%.1f", v);
        EXPECT_EQ(formatFixed(v, 1), expected) << v;
        std::snprintf(expected, sizeof expected, "%.0f", v);
        EXPECT_EQ(formatFixed(v, 0), expected) << v;
    }
}

} // namespace
