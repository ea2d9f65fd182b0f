#include "formatting.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using namespace corvel;

namespace {

TEST(Formatting, TextsAtTheirBoundaries)
{
    const struct
    {
        std::string text, expected;
    } cases[] = {
        {formatMemory(0), "0 MB"},
        {formatMemory(512000), "500 MB"},
        {formatMemory(1048575), "1024 MB"}, // the megabyte branch, rounded up in printing
        {formatMemory(1048576), "1.0 GB"},
        {formatMemory(1572864), "1.5 GB"},
        {formatShare(12.34), "12.3%"},
        {formatShare(250), "250.0%"},
        {formatCpuLabel(12.4), "CPU 12%"},
        {formatCpuLabel(99.6), "CPU 100%"},
        {formatTotalCpu(37.4), "Total CPU 37%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected);
}

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
