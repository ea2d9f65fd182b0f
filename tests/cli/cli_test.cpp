#include "options.h"
#include "terminal_view.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vector>

using namespace corvel;

namespace {

TEST(Options, ModesAndTheirMistakes)
{
    using Mode = Options::Mode;
    const struct
    {
        std::vector<const char*> args;
        Mode mode;
        bool json;
    } cases[] = {{{}, Mode::statusItem, false},
                 {{"--help"}, Mode::help, false},
                 {{"--json", "--once"}, Mode::once, true},
                 {{"--once", "--version"}, Mode::version, false},
                 {{"--json"}, Mode::invalid, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseOptions(c.args).mode, c.mode) << c.args.size();
        EXPECT_EQ(parseOptions(c.args).json, c.json) << c.args.size();
    }
    EXPECT_EQ(parseOptions(std::vector<const char*>{"--once", "-x"}).error, "unknown option '-x'");
}

std::vector<AppUsage> sample()
{
    return {AppUsage{"org.example.Editor", "Editor", nullptr, 250, 1572864, 3},
            AppUsage{"__system", "System & Background", nullptr, 12.34, 512000, 1},
            AppUsage{"pid9", "Caf\xC3\xA9 \"quoted\"\n", nullptr, 0, 0, 2}};
}

TEST(TerminalView, TextShowsThePanelsColumnsAndFormats)
{
    const std::string text = renderText(sample(), 37.4);
    EXPECT_EQ(text.rfind("App", 0), 0u);
    for (const char* part : {"Editor (3)", "250.0%", "1.5 GB", "500 MB", "12.3%"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_EQ(text.find("System & Background ("), std::string::npos); // one process: no count
    EXPECT_TRUE(text.ends_with("Total CPU 37%\n"));
}

TEST(TerminalView, JsonKeepsEveryFieldAndRepairsItsText)
{
    auto apps = sample();
    apps.push_back(AppUsage{"x", "bad \xFF name", nullptr, 1, 1, 1});
    const auto doc = nlohmann::json::parse(renderJson(apps, 37.4, 2));
    EXPECT_DOUBLE_EQ(doc["totalCPU"].get<double>(), 37.4);
    EXPECT_EQ(doc["cores"].get<double>(), 2);
    ASSERT_EQ(doc["apps"].size(), 4u);
    EXPECT_EQ(doc["apps"][0]["id"], "org.example.Editor");
    EXPECT_EQ(doc["apps"][0]["memoryKB"], 1572864);
    EXPECT_EQ(doc["apps"][0]["processCount"], 3);
    EXPECT_DOUBLE_EQ(doc["apps"][1]["cpu"].get<double>(), 12.34);
    EXPECT_EQ(doc["apps"][2]["name"], "Caf\xC3\xA9 \"quoted\"\n");
    EXPECT_EQ(doc["apps"][3]["name"], "bad \xEF\xBF\xBD name");
}

} // namespace
