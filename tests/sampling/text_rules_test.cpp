#include "text_rules.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

using namespace corvel;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8Repair, ValidTextIsUnchanged)
{
    for (const std::string text : {"", "plain ascii", "caf\xC3\xA9", "\xE2\x82\xAC 5",
                                   "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF"}) {
        EXPECT_TRUE(isValidUtf8(text)) << text;
        EXPECT_EQ(decodeUtf8Lossy(text), text);
    }
}

// One replacement per maximal ill-formed subpart, as the Unicode standard recommends.
TEST(Utf8Repair, ReplacesMaximalSubparts)
{
    struct Case
    {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"a\x80z", "a" + fffd + "z"},                        // lone continuation byte
        {"\x80\x80", fffd + fffd},                           // each on its own
        {"\xC0\xAF", fffd + fffd},                           // C0 can never start a sequence
        {"\xE2\x82", fffd},                                  // truncated three-byte sequence
        {"\xE2\x82z", fffd + "z"},                           // truncated, then ASCII
        {"\xF0\x9F\x98", fffd},                              // truncated four-byte sequence
        {"\xED\xA0\x80", fffd + fffd + fffd},                // surrogate: ED A0 is not a prefix
        {"\xE0\x80\x80", fffd + fffd + fffd},                // overlong: E0 80 is not a prefix
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},     // above U+10FFFF
        {"\xF5\xFF", fffd + fffd},                           // never-valid bytes
        {"\xF0\x9F\x98\xF0\x9F\x98\x80", fffd + "\xF0\x9F\x98\x80"}, // truncated, then whole
        {"ab\xE2", "ab" + fffd},                             // cut at the very end
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(isValidUtf8(c.in));
        EXPECT_EQ(decodeUtf8Lossy(c.in), c.out) << testing::PrintToString(c.in);
    }
}

std::vector<std::string> split(std::string_view line)
{
    const Fields f = splitPSFields(line);
    return {f.field.begin(), f.field.begin() + static_cast<std::ptrdiff_t>(f.count)};
}

using Strings = std::vector<std::string>;

TEST(FieldSplit, SpacesOnlyAtMostFourSplits)
{
    EXPECT_EQ(split("   12     1   0.5  2048 /usr/bin/app --flag value"),
              (Strings{"12", "1", "0.5", "2048", "/usr/bin/app --flag value"}));
    EXPECT_EQ(split("1 2 3 4"), (Strings{"1", "2", "3", "4"}));
    EXPECT_EQ(split("1 2 3 4 "), (Strings{"1", "2", "3", "4"}));
    EXPECT_EQ(split("1 2 3 4  "), (Strings{"1", "2", "3", "4", " "}));
    EXPECT_EQ(split("1 2 3 4  cmd"), (Strings{"1", "2", "3", "4", " cmd"}));
    EXPECT_EQ(split("1 2 3 4 cmd  with   spaces  "),
              (Strings{"1", "2", "3", "4", "cmd  with   spaces  "}));
    EXPECT_EQ(split("1\t2 3 4 5"), (Strings{"1\t2", "3", "4", "5"}));
    EXPECT_EQ(split("     "), Strings{});
    EXPECT_EQ(split(""), Strings{});
    EXPECT_EQ(split("1 2 3"), (Strings{"1", "2", "3"}));
}

TEST(IntegerRule, SignDigitsAndRange)
{
    EXPECT_EQ(parseInt32("0"), 0);
    EXPECT_EQ(parseInt32("+42"), 42);
    EXPECT_EQ(parseInt32("-42"), -42);
    EXPECT_EQ(parseInt32("2147483647"), 2147483647);
    EXPECT_EQ(parseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseInt32("007"), 7);
    for (const char* bad : {"", "+", "-", "+-1", "-+1", "++1", "--1", "2147483648",
                            "-2147483649", "1.0", " 1", "1 ", "0x10", "1e3", "١٢", "12a"})
        EXPECT_FALSE(parseInt32(bad).has_value()) << bad;

    EXPECT_EQ(parseInt64("2147483648"), 2147483648LL);
    EXPECT_EQ(parseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_FALSE(parseInt64("9223372036854775808").has_value());
}

TEST(FloatRule, WholeFieldInTheCLocaleForm)
{
    EXPECT_EQ(parseDouble("0.0"), 0.0);
    EXPECT_EQ(parseDouble("12.5"), 12.5);
    EXPECT_EQ(parseDouble("+12.5"), 12.5);
    EXPECT_EQ(parseDouble("-0.5"), -0.5);
    EXPECT_EQ(parseDouble("1e2"), 100.0);
    EXPECT_EQ(parseDouble(".5"), 0.5);
    EXPECT_EQ(parseDouble("5."), 5.0);
    EXPECT_EQ(parseDouble("0x1p3"), 8.0);
    EXPECT_TRUE(std::isinf(*parseDouble("inf")));
    EXPECT_TRUE(std::isinf(*parseDouble("-Infinity")));
    EXPECT_TRUE(std::isnan(*parseDouble("nan")));
    EXPECT_TRUE(std::isinf(*parseDouble("1e999")));
    for (const char* bad : {"", " 1.0", "\t1.0", "1.0 ", "1,5", "1.2.3", ".", "+", "abc", "1e",
                            "0x", "nanx"})
        EXPECT_FALSE(parseDouble(bad).has_value()) << bad;
    EXPECT_FALSE(parseDouble(std::string_view("1\0" "5", 3)).has_value());
    const std::string longField(100, '1');
    EXPECT_EQ(parseDouble(longField), 1.1111111111111111e99);
}

// Qt sets the C library's locale from the environment; a decimal comma must not leak in.
TEST(FloatRule, IgnoresADecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "locale de_DE.UTF-8 is not generated here (scripts/test-locale-setup)";
    EXPECT_EQ(parseDouble("12.5"), 12.5);
    EXPECT_EQ(parseDouble("+1e-1"), 0.1);
    EXPECT_FALSE(parseDouble("12,5").has_value());
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
