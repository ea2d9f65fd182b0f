#include "formatting.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

using namespace corvel;

namespace {

struct Texts
{
    std::string memory0, memory500, memoryJustBelow, memoryGiB, memory15, memory10, share,
        shareBig, label, labelRounded, total;
};

Texts allTexts()
{
    return {formatMemory(0),          formatMemory(512000),   formatMemory(1048575),
            formatMemory(1048576),    formatMemory(1572864),  formatMemory(10485760),
            formatShare(12.34),       formatShare(250),       formatCpuLabel(12.4),
            formatCpuLabel(99.6),     formatTotalCpu(37.4)};
}

void expectPrintfTexts(const Texts& t)
{
    EXPECT_EQ(t.memory0, "0 MB");
    EXPECT_EQ(t.memory500, "500 MB");
    EXPECT_EQ(t.memoryJustBelow, "1024 MB"); // megabyte branch, rounded up in printing
    EXPECT_EQ(t.memoryGiB, "1.0 GB");
    EXPECT_EQ(t.memory15, "1.5 GB");
    EXPECT_EQ(t.memory10, "10.0 GB");
    EXPECT_EQ(t.share, "12.3%");
    EXPECT_EQ(t.shareBig, "250.0%");
    EXPECT_EQ(t.label, "CPU 12%");
    EXPECT_EQ(t.labelRounded, "CPU 100%");
    EXPECT_EQ(t.total, "Total CPU 37%");
}

TEST(Formatting, MatchesPrintfInTheCLocale)
{
    expectPrintfTexts(allTexts());
    EXPECT_EQ(formatShare(0), "0.0%");
    EXPECT_EQ(formatCpuLabel(0), "CPU 0%");
    EXPECT_EQ(formatCpuLabel(100), "CPU 100%");
    // Rounding of the printed digits is printf's, halves included.
    for (const double v : {0.5, 1.5, 2.5, 0.05, 0.15, 0.25, 12.45, 99.95, 1e300}) {
        char expected[400];
        std::snprintf(expected, sizeof expected, "%.1f", v);
        EXPECT_EQ(formatFixed(v, 1), expected) << v;
        std::snprintf(expected, sizeof expected, "%.0f", v);
        EXPECT_EQ(formatFixed(v, 0), expected) << v;
    }
}

TEST(Formatting, IgnoresADecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not generated here (scripts/test-locale-setup)";
    const Texts texts = allTexts();
    std::setlocale(LC_ALL, saved.c_str());
    expectPrintfTexts(texts);
}

} // namespace
