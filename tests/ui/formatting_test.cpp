#include "formatting.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

// Rounding is printf's, halves included; the texts, at their limits and under a decimal comma,
// are checked where they are shown (the panel, the item's label, the terminal's list).
TEST(Formatting, RoundsAsPrintfInTheCLocale)
{
    for (const double v : {0.5, 1.5, 2.5, 0.05, 0.15, 0.25, 12.45, 99.95, 1e300})
        for (const int precision : {0, 1}) {
            char expected[400];
            std::snprintf(expected, sizeof expected, "%.*f", precision, v);
            EXPECT_EQ(corvel::formatFixed(v, precision), expected) << v;
        }
}

} // namespace
