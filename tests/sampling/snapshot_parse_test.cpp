#include "snapshot.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvel;

namespace {

TEST(ParsePS, EmptyOrBlankOutputGivesNoRows)
{
    EXPECT_TRUE(parsePS("").empty());
    EXPECT_TRUE(parsePS("\n\n\n").empty());
    EXPECT_TRUE(parsePS("      \n").empty());
    EXPECT_TRUE(parsePS("1 2 3\n").empty()); // three numbers only
}

TEST(ParsePS, ReadsTheFiveColumnsOfEveryLine)
{
    const auto rows = parsePS("    1     0  0.0  11840 /sbin/init splash\n"
                              "  812     1 12.5 204800 /usr/bin/editor --new-window /tmp/a b\n"
                              "  900   812  0.3   1024 [kworker/0:1]");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].pid, 1);
    EXPECT_EQ(rows[0].ppid, 0);
    EXPECT_EQ(rows[0].command, "/sbin/init splash");
    EXPECT_EQ(rows[1].pid, 812);
    EXPECT_EQ(rows[1].ppid, 1);
    EXPECT_DOUBLE_EQ(rows[1].cpu, 12.5);
    EXPECT_EQ(rows[1].rssKB, 204800);
    EXPECT_EQ(rows[1].command, "/usr/bin/editor --new-window /tmp/a b");
    EXPECT_EQ(rows[2].command, "[kworker/0:1]"); // last line without a line feed
}

TEST(ParsePS, CommandKeepsItsSpacesExactly)
{
    struct Case
    {
        const char* line;
        const char* command;
    };
    const Case cases[] = {
        {"1 2 3 4", ""},
        {"1 2 3 4 ", ""},
        {"1 2 3 4  ", " "},
        {"1 2 3 4  cmd", " cmd"},
        {"1 2 3 4 a  b   c ", "a  b   c "},
        {"1 2 3 4 tab\there", "tab\there"},
    };
    for (const Case& c : cases) {
        const auto rows = parsePS(c.line);
        ASSERT_EQ(rows.size(), 1u) << c.line;
        EXPECT_EQ(rows[0].command, c.command) << c.line;
    }
}

TEST(ParsePS, DropsLinesThatFailAConversion)
{
    const auto rows = parsePS("  PID  PPID %CPU   RSS COMMAND\n" // a heading
                              "1\t2 0.0 10 tab joins two columns\n"
                              "3 1 0,5 10 decimal comma\n"
                              "2147483648 1 0.0 10 pid out of range\n"
                              "5 1 0.0 -x bad rss\n"
                              "+ 1 0.0 10 sign alone\n"
                              "6 1 0.0 2147483648 big rss is fine\n"
                              "+7 -1 0.0 10 signs\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].pid, 6);
    EXPECT_EQ(rows[0].rssKB, 2147483648LL);
    EXPECT_EQ(rows[1].pid, 7);
    EXPECT_EQ(rows[1].ppid, -1);
}

TEST(ParsePS, InvalidUtf8IsReplacedNotDropped)
{
    const auto rows = parsePS("10 1 0.0 10 /opt/caf\xE9/run\n"
                              "1\x80 1 0.0 10 replacement inside a number\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].command, "/opt/caf\xEF\xBF\xBD/run");
}

TEST(ParsePS, KeepsEveryRowWhateverItsValues)
{
    const auto rows = parsePS("0 0 0 0 \n-5 -5 nan 0 x\n5 5 inf 0 y\n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(std::isnan(rows[1].cpu));
    EXPECT_TRUE(std::isinf(rows[2].cpu));
}

} // namespace
