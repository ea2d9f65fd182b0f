// The /proc text parsers, on the shapes the kernel writes and on damaged text.

#include "proc_parse.h"

#include <gtest/gtest.h>

using namespace corvel;
using namespace std::string_literals;

namespace {

// A full 52-field stat line as the kernel writes it.
std::string statLine(const std::string& pidAndComm, const std::string& tail = "")
{
    return pidAndComm + " S 1 1234 1234 34816 -1 4194560 1130 0 0 0 250 75 0 0 20 0 1 0 "
                        "98765 10412032 880 18446744073709551615 1 1 140722 0 0 0 0 0 0 0 0 0 17 1 "
                        "0 0 0 0 0 0 0 0 0 0 0 0 0" +
           tail + "\n";
}

TEST(ProcStatParse, ReadsTheFieldsTheSamplerUses)
{
    const std::string line = statLine("4321 (bash)");
    const auto stat = parseProcStat(line);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->pid, 4321);
    EXPECT_EQ(stat->comm, "bash");
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->ppid, 1);
    EXPECT_EQ(stat->utime, 250u);
    EXPECT_EQ(stat->stime, 75u);
    EXPECT_EQ(stat->startTime, 98765u);
    EXPECT_EQ(stat->rssPages, 880);
    EXPECT_EQ(stat->startStack, 140722u); // moves with every exec
    // Cut right after rss: still a process, its stack position unknown.
    const auto shorter = parseProcStat(line.substr(0, line.find(" 18446744073709551615")));
    ASSERT_TRUE(shorter);
    EXPECT_EQ(shorter->startStack, 0u);
}

TEST(ProcStatParse, NameRunsToTheLastParenthesis)
{
    struct Case
    {
        std::string line;
        std::string comm;
    };
    const Case cases[] = {
        {"7 (Web Content)", "Web Content"},
        {"7 (a) b)", "a) b"},
        {"7 ((sd-pam))", "(sd-pam)"},
        {"7 ( ) ) R 9 (x) S)", " ) ) R 9 (x) S"},
        {"7 ()", ""},
        {"7 (kworker/0:1-events)", "kworker/0:1-events"},
    };
    for (const Case& c : cases) {
        const std::string line = statLine(c.line);
        const auto stat = parseProcStat(line);
        ASSERT_TRUE(stat) << c.line;
        EXPECT_EQ(stat->comm, c.comm) << c.line;
        EXPECT_EQ(stat->pid, 7);
        EXPECT_EQ(stat->ppid, 1) << c.line;
    }
}

TEST(ProcStatParse, RefusesDamagedLines)
{
    const std::string good = statLine("12 (x)");
    const std::string cases[] = {
        "",
        "12",
        "12 (x",
        "(x) S 1",
        "abc (x) S 1 2 3",
        "0 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1",
        "-3 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1",
        "99999999999 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1",
        "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1",   // stops before rss
        "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 x 0 0 20 0 1 0 5 1 1", // stime not a number
        "12 (x) S 1 1 1 0 -1 0 0 0 0 0 -1 1 0 0 20 0 1 0 5 1 1", // negative utime
        "12 (x)S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1",
        "12 (x) SS 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1",
        "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1\n1", // rss on the next line
        good.substr(0, good.find("98765")),
    };
    for (const std::string& line : cases)
        EXPECT_FALSE(parseProcStat(line)) << line;
    EXPECT_TRUE(parseProcStat("12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1"));
}

TEST(ProcStatmParse, SecondFieldIsResident)
{
    EXPECT_EQ(parseStatmResident("2542 880 640 244 0 312 0\n"), 880);
    EXPECT_EQ(parseStatmResident("0 0 0 0 0 0 0\n"), 0); // zombie
    EXPECT_EQ(parseStatmResident("5 7"), 7);
    EXPECT_FALSE(parseStatmResident(""));
    EXPECT_FALSE(parseStatmResident("2542\n"));
    EXPECT_FALSE(parseStatmResident("2542 -1 0"));
    EXPECT_FALSE(parseStatmResident("2542 88x0 0"));
    EXPECT_FALSE(parseStatmResident("2542\n880 0"));
}

TEST(CmdlineJoin, NulsBecomeSingleSpacesAndTrailingOnesGo)
{
    EXPECT_EQ(joinCmdline("/usr/bin/foo\0--bar\0baz qux\0"s), "/usr/bin/foo --bar baz qux");
    EXPECT_EQ(joinCmdline("a\0\0b\0"s), "a  b");      // an empty argument keeps its place
    EXPECT_EQ(joinCmdline("title set by itself"s), "title set by itself"); // no NUL at all
    EXPECT_EQ(joinCmdline("padded\0\0\0\0"s), "padded");
    EXPECT_EQ(joinCmdline("two\nlines\0"s), "two lines");
    EXPECT_EQ(joinCmdline(""), "");
    EXPECT_EQ(joinCmdline("\0\0"s), "");
}

TEST(ProcessCommand, FallsBackToTheBracketedName)
{
    EXPECT_EQ(processCommand("sleep\0" "30\0"s, "sleep", 'S'), "sleep 30");
    EXPECT_EQ(processCommand("", "kthreadd", 'S'), "[kthreadd]");
    EXPECT_EQ(processCommand("", "a) (b", 'I'), "[a) (b]");
    EXPECT_EQ(processCommand("", "sleep", 'Z'), "[sleep] <defunct>");
    EXPECT_EQ(processCommand("\0"s, "x", 'R'), "[x]");
}

TEST(ProcessCommand, RepairsInvalidUtf8)
{
    EXPECT_EQ(processCommand("caf\xC3\xA9\0-v\0"s, "x", 'S'), "caf\xC3\xA9 -v");
    EXPECT_EQ(processCommand("bad\xFF\0arg\xC3\0"s, "x", 'S'), "bad\xEF\xBF\xBD arg\xEF\xBF\xBD");
    // A name cut at 15 bytes can end inside a character.
    EXPECT_EQ(processCommand("", "abcdefghijklm\xE2\x82", 'S'), "[abcdefghijklm\xEF\xBF\xBD]");
}

} // namespace
