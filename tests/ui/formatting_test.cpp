#include "formatting.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <tuple>

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

// The tooltip's lines: the list's first rows, the system's like any other, none that shows idle.
TEST(Formatting, BusiestApplicationsForTheTooltip)
{
    using Apps = std::vector<corvel::AppUsage>;
    const auto app = [](const char* name, double cpu) {
        return corvel::AppUsage{"", name, {}, cpu};
    };
    const std::tuple<Apps, std::size_t, const char*> rows[] = {
        {{}, 3, ""},
        {{app("Firefox", 22.44), app("System & Background", 9.96), app("Code", 3), app("Mail", 2)},
         3,
         "Firefox 22.4%\nSystem & Background 10.0%\nCode 3.0%"},
        {{app("Build", 250), app("Idle", 0.04), app("Off", 0)}, 3, "Build 250.0%"},
        {{app("Idle", 0.0499)}, 3, ""},
        {{app("A", 5), app("B", 4)}, 1, "A 5.0%"},
    };
    for (const auto& [apps, count, expected] : rows)
        EXPECT_EQ(corvel::formatBusiest(apps, count), expected);
}

} // namespace
