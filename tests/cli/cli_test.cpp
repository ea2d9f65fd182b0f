#include "formatting.h"
#include "options.h"
#include "terminal_view.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tuple>
#include <vector>

using namespace corvel;

namespace {

// Order does not matter, --help and --version end the reading, --json needs --once.
TEST(Options, ModesAndTheirMistakes)
{
    using Mode = Options::Mode;
    // clang-format off
    const std::tuple<std::vector<const char*>, Mode, bool> cases[] = {{{}, Mode::statusItem, false},
        {{"--json", "--once"}, Mode::once, true}, {{"--once", "--version"}, Mode::version, false},
        {{"--json"}, Mode::invalid, true}};
    // clang-format on
    for (const auto& [args, mode, json] : cases)
        EXPECT_EQ(std::pair(parseOptions(args).mode, parseOptions(args).json),
                  std::pair(mode, json));
    EXPECT_EQ(parseOptions(std::vector<const char*>{"--once", "-x"}).error, "unknown option '-x'");
}

const std::vector<AppUsage> sample = {
    AppUsage{"org.example.Editor", "Editor", nullptr, 250, 1572864, 3},
    AppUsage{"__system", "System & Background", nullptr, 12.34, 512000, 1},
    AppUsage{"pid9", "Caf\xC3\xA9 \"quoted\"\n", nullptr, 0, 0, 2},
    AppUsage{"x", "bad \xFF name", nullptr, 1, 1, 1}};

TEST(TerminalView, TextShowsThePanelsColumnsAndJsonKeepsEveryFieldRepairingItsText)
{
    const std::string text = renderText(sample, 37.4);
    EXPECT_EQ(text.rfind("App", 0), 0u);
    for (const char* part : {"Editor (3)", "250.0%", "1.5 GB", "500 MB", "12.3%"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_EQ(text.find("System & Background ("), std::string::npos); // one process: no count
    EXPECT_TRUE(text.ends_with("Total CPU 37%\n"));
    EXPECT_EQ(nlohmann::json::parse(renderJson(sample, 37.4, 2)), nlohmann::json::parse(R"({
        "totalCPU": 37.4, "cores": 2, "apps": [
        {"id": "org.example.Editor", "name": "Editor", "cpu": 250, "memoryKB": 1572864,
         "processCount": 3},
        {"id": "__system", "name": "System & Background", "cpu": 12.34, "memoryKB": 512000,
         "processCount": 1},
        {"id": "pid9", "name": "Caf\u00e9 \"quoted\"\n", "cpu": 0, "memoryKB": 0, "processCount": 2},
        {"id": "x", "name": "bad \ufffd name", "cpu": 1, "memoryKB": 1, "processCount": 1}]})"));
}

// Rounding is printf's, halves included; the texts, at their limits and under a decimal comma,
// are checked where they are shown (the panel, the item's label, the list above). The status
// item's tooltip: the list's first rows, the system's like any other, none idle.
TEST(Formatting, RoundsAsPrintfInTheCLocaleAndListsTheBusiestForTheTooltip)
{
    for (const double v : {0.5, 1.5, 2.5, 0.05, 0.15, 0.25, 12.45, 99.95, 1e300})
        for (const int precision : {0, 1}) {
            char expected[400];
            std::snprintf(expected, sizeof expected, "%.*f", precision, v);
            EXPECT_EQ(formatFixed(v, precision), expected) << v;
        }
    const auto app = [](const char* name, double cpu) { return AppUsage{"", name, {}, cpu}; };
    const std::tuple<std::vector<AppUsage>, std::size_t, const char*> rows[] = {
        {{}, 3, ""},
        {{app("Firefox", 22.44), app("System & Background", 9.96), app("Code", 3), app("Mail", 2)},
         3,
         "Firefox 22.4%\nSystem & Background 10.0%\nCode 3.0%"},
        {{app("Build", 250), app("Idle", 0.0499), app("Off", 0)}, 3, "Build 250.0%"},
        {{app("A", 5), app("B", 4)}, 1, "A 5.0%"},
    };
    for (const auto& [apps, count, expected] : rows)
        EXPECT_EQ(formatBusiest(apps, count), expected);
}

} // namespace
