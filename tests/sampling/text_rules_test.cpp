// The rules for reading the process-status tool's text: UTF-8 repair, strict numbers, and the
// lines they make into rows.

#include "snapshot.h"
#include "text_rules.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace corvel;

namespace {

const std::string bad = "\xEF\xBF\xBD"; // U+FFFD

// One replacement per maximal ill-formed subpart, as the Unicode standard recommends.
TEST(Utf8Repair, ReplacesMaximalSubpartsAndKeepsValidText)
{
    const struct
    {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"a\x80z", "a" + bad + "z"},                 // lone continuation byte
        {"\xC0\xAF", bad + bad},                     // C0 never starts a sequence
        {"\xE2\x82z", bad + "z"},                    // truncated, then ASCII
        {"\xF0\x9F\x98", bad},                       // truncated four-byte sequence
        {"\xED\xA0\x80", bad + bad + bad},           // surrogate
        {"\xE0\x80\x80", bad + bad + bad},           // overlong
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, // above U+10FFFF
        {"\xF5\xFF", bad + bad},                     // never-valid bytes
        {"\xF0\x9F\x98\xF0\x9F\x98\x80", bad + "\xF0\x9F\x98\x80"},
        {"ab\xE2", "ab" + bad}, // cut at the very end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeUtf8Lossy(c.in), c.out) << testing::PrintToString(c.in);
        EXPECT_EQ(isValidUtf8(c.in), c.in == c.out) << testing::PrintToString(c.in);
    }
}

TEST(NumberRules, WholeFieldSignDigitsAndRange)
{
    const struct
    {
        const char* text;
        std::optional<std::int64_t> as32, as64;
    } integers[] = {{"0", 0, 0},
                    {"+42", 42, 42},
                    {"-42", -42, -42},
                    {"007", 7, 7},
                    {"2147483647", INT32_MAX, INT32_MAX},
                    {"-2147483648", INT32_MIN, INT32_MIN},
                    {"2147483648", {}, 2147483648LL},
                    {"-2147483649", {}, -2147483649LL},
                    {"9223372036854775807", {}, INT64_MAX},
                    {"9223372036854775808", {}, {}}};
    for (const auto& c : integers) {
        EXPECT_EQ(parseInt32(c.text), c.as32) << c.text;
        EXPECT_EQ(parseInt64(c.text), c.as64) << c.text;
    }
    for (const char* wrong : {"", "+", "-", "+-1", "--1", "1.0", " 1", "1 ", "0x10", "1e3", "12a"})
        EXPECT_FALSE(parseInt64(wrong)) << wrong;

    const struct
    {
        const char* text;
        double value;
    } doubles[] = {{"12.5", 12.5},     {"+12.5", 12.5},   {"-0.5", -0.5},
                   {"1e2", 100},       {".5", 0.5},       {"5.", 5},
                   {"0x1p3", 8},       {"inf", INFINITY}, {"-Infinity", -INFINITY},
                   {"1e999", INFINITY}};
    for (const auto& c : doubles)
        EXPECT_EQ(parseDouble(c.text), c.value) << c.text;
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    for (const char* wrong : {"", " 1.0", "1.0 ", "1,5", "1.2.3", ".", "+", "1e", "0x", "nanx"})
        EXPECT_FALSE(parseDouble(wrong)) << wrong;
    EXPECT_FALSE(parseDouble(std::string_view("1\0"
                                              "5",
                                              3)));
}

// Qt sets the C library's locale from the environment; a decimal comma must not leak in.
TEST(NumberRules, IgnoreADecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not generated here (scripts/test-locale-setup)";
    EXPECT_EQ(parseDouble("12.5"), 12.5);
    EXPECT_FALSE(parseDouble("12,5"));
    std::setlocale(LC_ALL, saved.c_str());
}

// Each line alone: the pid and command of the row it makes, or no row.
TEST(ParsePS, LinesThatMakeARowAndLinesDropped)
{
    const struct
    {
        const char* line;
        std::int32_t pid;
        std::string command;
    } cases[] = {{"1 2 3 4", 1, ""},
                 {"1 2 3 4 ", 1, ""},
                 {"1 2 3 4  ", 1, " "},
                 {"1 2 3 4  cmd", 1, " cmd"},
                 {"  12   1  0.5 2048 a  b   c ", 12, "a  b   c "},
                 {"1 2 3 4 tab\there", 1, "tab\there"},
                 {"+7 -1 0.0 10 signs", 7, "signs"},
                 {"6 1 0.0 2147483648 big rss is fine", 6, "big rss is fine"},
                 {"-5 -5 nan 0 any value", -5, "any value"},
                 {"10 1 0.0 10 /opt/caf\xE9/run", 10, "/opt/caf" + bad + "/run"}};
    for (const auto& c : cases) {
        const auto rows = parsePS(c.line);
        ASSERT_EQ(rows.size(), 1u) << c.line;
        EXPECT_EQ(rows[0].pid, c.pid) << c.line;
        EXPECT_EQ(rows[0].command, c.command) << c.line;
    }
    for (const char* dropped :
         {"", "     ", "1 2 3", "  PID  PPID %CPU   RSS COMMAND",
          "1\t2 0.0 10 tab joins two columns", "3 1 0,5 10 decimal comma",
          "2147483648 1 0.0 10 pid out of range", "4 2147483648 0.0 10 parent out of range",
          "5 1 0.0 -x bad rss", "+ 1 0.0 10 sign alone",
          "1\x80 1 0.0 10 replacement inside a number"})
        EXPECT_TRUE(parsePS(dropped).empty()) << testing::PrintToString(dropped);
}

TEST(ParsePS, ReadsEveryColumnOfEveryLineInOrder)
{
    const auto rows = parsePS("\n    1     0  0.0  11840 /sbin/init splash\n\n"
                              "  812     1 12.5 204800 /usr/bin/editor --new-window\n"
                              "  900   812  0.3   1024 [kworker/0:1]");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].command, "/sbin/init splash");
    EXPECT_EQ(rows[1].pid, 812);
    EXPECT_EQ(rows[1].ppid, 1);
    EXPECT_EQ(rows[1].cpu, 12.5);
    EXPECT_EQ(rows[1].rssKB, 204800);
    EXPECT_EQ(rows[2].command, "[kworker/0:1]"); // the last line has no line feed
}

} // namespace
