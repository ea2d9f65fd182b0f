// The rules for reading the process-status tool's text: UTF-8 repair, strict numbers, and the
// lines they make into rows.

#include "snapshot.h"
#include "text_rules.h"

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <tuple>

using namespace corvel;

namespace {

const std::string bad = "\xEF\xBF\xBD"; // U+FFFD

// One replacement per maximal ill-formed subpart, as the Unicode standard recommends: a lone
// continuation byte, C0, truncated sequences, a surrogate, an overlong form, above U+10FFFF.
TEST(Utf8Repair, ReplacesMaximalSubpartsAndKeepsValidText)
{
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"caf\xC3\xA9", "caf\xC3\xA9"}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"}, {"\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"a\x80z", "a" + bad + "z"}, {"\xC0\xAF", bad + bad}, {"\xE2\x82z", bad + "z"},
        {"\xF0\x9F\x98", bad}, {"\xED\xA0\x80", bad + bad + bad}, {"\xE0\x80\x80", bad + bad + bad},
        {"\xF4\x90\x80\x80", bad + bad + bad + bad}, {"\xF5\xFF", bad + bad},
        {"ab\xE2", "ab" + bad}, {"\xF0\x9F\x98\xF0\x9F\x98\x80", bad + "\xF0\x9F\x98\x80"}};
    // clang-format on
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(decodeUtf8Lossy(in), out) << testing::PrintToString(in);
        EXPECT_EQ(isValidUtf8(in), in == out) << testing::PrintToString(in);
    }
}

// Qt sets the C library's locale from the environment, so these run under a decimal comma's.
TEST(NumberRules, WholeFieldSignDigitsAndRangeInAnyLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8"); // scripts/test-locale-setup
    using Int = std::optional<std::int64_t>;
    // clang-format off
    const std::tuple<const char*, Int, Int> integers[] = {
        {"0", 0, 0}, {"+42", 42, 42}, {"-42", -42, -42}, {"007", 7, 7},
        {"2147483647", INT32_MAX, INT32_MAX}, {"-2147483648", INT32_MIN, INT32_MIN},
        {"2147483648", {}, 2147483648LL}, {"-2147483649", {}, -2147483649LL},
        {"9223372036854775807", {}, INT64_MAX}, {"9223372036854775808", {}, {}}};
    const std::pair<const char*, double> doubles[] = {
        {"12.5", 12.5}, {"+12.5", 12.5}, {"-0.5", -0.5}, {"1e2", 100}, {".5", 0.5}, {"5.", 5},
        {"0x1p3", 8}, {"inf", INFINITY}, {"-Infinity", -INFINITY}, {"1e999", INFINITY}};
    // clang-format on
    for (const auto& [text, as32, as64] : integers) {
        EXPECT_EQ(parseInt32(text), as32) << text;
        EXPECT_EQ(parseInt64(text), as64) << text;
    }
    for (const char* wrong : {"", "+", "-", "+-1", "--1", "1.0", " 1", "1 ", "0x10", "1e3", "12a"})
        EXPECT_FALSE(parseInt64(wrong)) << wrong;
    for (const auto& [text, value] : doubles)
        EXPECT_EQ(parseDouble(text), value) << text;
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    for (const char* wrong : {"", " 1.0", "1.0 ", "1,5", "1.2.3", ".", "+", "1e", "0x", "nanx"})
        EXPECT_FALSE(parseDouble(wrong)) << wrong;
    EXPECT_FALSE(parseDouble(std::string_view("1\0005", 3)));
    std::setlocale(LC_ALL, saved.c_str());
    if (!comma)
        GTEST_SKIP() << "ran in the C locale only: de_DE.UTF-8 is not generated here";
}

// Each line alone: the pid and command of the row it makes, or no row.
TEST(ParsePS, LinesThatMakeARowAndLinesDropped)
{
    // clang-format off
    const std::tuple<const char*, std::int32_t, std::string> cases[] = {
        {"1 2 3 4", 1, ""}, {"1 2 3 4 ", 1, ""}, {"1 2 3 4  ", 1, " "}, {"1 2 3 4  cmd", 1, " cmd"},
        {"  12   1  0.5 2048 a  b   c ", 12, "a  b   c "}, {"1 2 3 4 tab\there", 1, "tab\there"},
        {"+7 -1 0.0 10 signs", 7, "signs"}, {"-5 -5 nan 0 any value", -5, "any value"},
        {"6 1 0.0 2147483648 big rss is fine", 6, "big rss is fine"},
        {"10 1 0.0 10 /opt/caf\xE9/run", 10, "/opt/caf" + bad + "/run"}};
    const char* const dropped[] = {"", "     ", "1 2 3", "  PID  PPID %CPU   RSS COMMAND",
        "1\t2 0.0 10 tab joins two", "3 1 0,5 10 decimal comma", "2147483648 1 0.0 10 pid too big",
        "4 2147483648 0.0 10 parent too big", "5 1 0.0 -x bad rss", "+ 1 0.0 10 sign alone",
        "1\x80 1 0.0 10 replacement inside a number"};
    // clang-format on
    for (const auto& [line, pid, command] : cases) {
        const auto rows = parsePS(line);
        ASSERT_EQ(rows.size(), 1u) << line;
        EXPECT_EQ(rows[0].pid, pid) << line;
        EXPECT_EQ(rows[0].command, command) << line;
    }
    for (const char* line : dropped)
        EXPECT_TRUE(parsePS(line).empty()) << testing::PrintToString(line);

    const auto rows = parsePS("\n    1     0  0.0  11840 /sbin/init splash\n\n"
                              "  812     1 12.5 204800 /usr/bin/editor --new-window\n"
                              "  900   812  0.3   1024 [kworker/0:1]\n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::tie(rows[1].pid, rows[1].ppid, rows[1].cpu, rows[1].rssKB, rows[1].command),
              std::make_tuple(812, 1, 12.5, 204800, "/usr/bin/editor --new-window"));
}

} // namespace
