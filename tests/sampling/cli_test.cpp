#include "options.h"
#include "terminal_view.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <vector>

using namespace corvel;

namespace {

Options parse(std::vector<const char*> args)
{
    return parseOptions(args);
}

TEST(Options, ModesAndMistakes)
{
    EXPECT_EQ(parse({}).mode, Options::Mode::statusItem);
    EXPECT_EQ(parse({"--once"}).mode, Options::Mode::once);
    EXPECT_FALSE(parse({"--once"}).json);
    const Options json = parse({"--once", "--json"});
    EXPECT_EQ(json.mode, Options::Mode::once);
    EXPECT_TRUE(json.json);
    EXPECT_TRUE(parse({"--json", "--once"}).json);
    EXPECT_EQ(parse({"--help"}).mode, Options::Mode::help);
    EXPECT_EQ(parse({"--once", "--version"}).mode, Options::Mode::version);
    EXPECT_EQ(parse({"--once", "--bogus"}).mode, Options::Mode::invalid);
    EXPECT_EQ(parse({"-x"}).error, "unknown option '-x'");
    EXPECT_EQ(parse({"--json"}).mode, Options::Mode::invalid);
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
    EXPECT_NE(text.find("Editor (3)"), std::string::npos);
    EXPECT_NE(text.find("250.0%"), std::string::npos);
    EXPECT_NE(text.find("1.5 GB"), std::string::npos);
    EXPECT_NE(text.find("System & Background"), std::string::npos);
    EXPECT_EQ(text.find("System & Background ("), std::string::npos); // one process: no count
    EXPECT_NE(text.find("500 MB"), std::string::npos);
    EXPECT_NE(text.find("12.3%"), std::string::npos);
    EXPECT_TRUE(text.ends_with("Total CPU 37%\n"));
}

TEST(TerminalView, JsonRoundTripsEveryField)
{
    const auto doc = nlohmann::json::parse(renderJson(sample(), 37.4, 2));
    EXPECT_DOUBLE_EQ(doc["totalCPU"].get<double>(), 37.4);
    EXPECT_EQ(doc["cores"].get<double>(), 2);
    ASSERT_EQ(doc["apps"].size(), 3u);
    EXPECT_EQ(doc["apps"][0]["id"], "org.example.Editor");
    EXPECT_EQ(doc["apps"][0]["memoryKB"], 1572864);
    EXPECT_EQ(doc["apps"][0]["processCount"], 3);
    EXPECT_DOUBLE_EQ(doc["apps"][1]["cpu"].get<double>(), 12.34);
    EXPECT_EQ(doc["apps"][2]["name"], "Caf\xC3\xA9 \"quoted\"\n");
}

TEST(TerminalView, JsonSurvivesBytesThatAreNotUtf8)
{
    std::vector<AppUsage> apps{AppUsage{"x", "bad \xFF name", nullptr, 1, 1, 1}};
    const auto doc = nlohmann::json::parse(renderJson(apps, 1, 1));
    EXPECT_EQ(doc["apps"][0]["name"], "bad \xEF\xBF\xBD name");
}

} // namespace
