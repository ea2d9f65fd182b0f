// The kernel text parsers, on the shapes the kernel writes and on damaged text.

#include "kernel_text.h"
#include "proc_parse.h"

#include <gtest/gtest.h>

using namespace corvel;
using namespace std::string_literals;

namespace {

// A full 52-field stat line as the kernel writes it.
std::string statLine(const std::string& pidAndComm)
{
    return pidAndComm + " S 1 1234 1234 34816 -1 4194560 1130 0 0 0 250 75 0 0 20 0 1 0 "
                        "98765 10412032 880 18446744073709551615 1 1 140722 0 0 0 0 0 0 0 0 0 "
                        "17 1 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
}

TEST(ProcStatParse, FieldsAndNamesThatRunToTheLastParenthesis)
{
    const std::string line = statLine("4321 (bash)");
    const auto stat = parseProcStat(line);
    ASSERT_TRUE(stat);
    EXPECT_EQ(std::tuple(stat->pid, stat->comm, stat->state, stat->ppid, stat->utime, stat->stime,
                         stat->startTime, stat->rssPages, stat->startStack),
              std::tuple(4321, "bash", 'S', 1, 250u, 75u, 98765u, 880, 140722u));
    // Cut right after rss: still a process, its stack position unknown.
    EXPECT_EQ(parseProcStat(line.substr(0, line.find(" 18446744073709551615")))->startStack, 0u);
    for (const auto& [head, comm] : {std::pair{"7 (Web Content)", "Web Content"},
                                     {"7 (a) b)", "a) b"},
                                     {"7 ((sd-pam))", "(sd-pam)"},
                                     {"7 ( ) ) R 9 (x) S)", " ) ) R 9 (x) S"},
                                     {"7 ()", ""}}) {
        const std::string text = statLine(head);
        const auto parsed = parseProcStat(text);
        ASSERT_TRUE(parsed) << head;
        EXPECT_EQ(std::tuple(parsed->comm, parsed->pid, parsed->ppid), std::tuple(comm, 7, 1));
    }
}

TEST(ProcStatParse, RefusesDamagedLines)
{
    const std::string good = "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1";
    EXPECT_TRUE(parseProcStat(good));
    for (const std::string& line :
         {""s, "12"s, "12 (x"s, "(x) S 1"s, "abc (x) S 1 2 3"s, "0" + good.substr(2),
          "-3" + good.substr(2), "99999999999" + good.substr(2),
          good.substr(0, good.size() - 2),                          // stops before rss
          "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 x 0 0 20 0 1 0 5 1 1"s,  // stime not a number
          "12 (x) S 1 1 1 0 -1 0 0 0 0 0 -1 1 0 0 20 0 1 0 5 1 1"s, // negative utime
          "12 (x)S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1"s,
          "12 (x) SS 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1"s,
          good.substr(0, good.size() - 2) + "\n1"s}) // rss on the next line
        EXPECT_FALSE(parseProcStat(line)) << line;
}

TEST(SmallKernelFiles, StatmCmdlineAndCommands)
{
    EXPECT_EQ(parseStatmResident("2542 880 640 244 0 312 0\n"), 880);
    EXPECT_EQ(parseStatmResident("0 0 0 0 0 0 0\n"), 0);
    for (const char* bad : {"", "2542\n", "2542 -1 0", "2542 88x0 0", "2542\n880 0"})
        EXPECT_FALSE(parseStatmResident(bad)) << bad;

    EXPECT_EQ(joinCmdline("/usr/bin/foo\0--bar\0baz qux\0"s), "/usr/bin/foo --bar baz qux");
    EXPECT_EQ(joinCmdline("a\0\0b\0"s), "a  b"); // an empty argument keeps its place
    EXPECT_EQ(joinCmdline("padded\0\0\0\0"s), "padded");
    EXPECT_EQ(joinCmdline("two\nlines\0"s), "two lines");
    EXPECT_EQ(processCommand("", "a) (b", 'I'), "[a) (b]");
    EXPECT_EQ(processCommand("\0"s, "sleep", 'Z'), "[sleep] <defunct>");
    EXPECT_EQ(processCommand("bad\xFF\0arg\xC3\0"s, "x", 'S'), "bad\xEF\xBF\xBD arg\xEF\xBF\xBD");
    EXPECT_EQ(processCommand("", "abcdefghijklm\xE2\x82", 'S'), "[abcdefghijklm\xEF\xBF\xBD]");
}

TEST(SmallKernelFiles, MachineTicksCgroupUsageAndNamespaces)
{
    const auto ticks = parseMachineTicks("cpu  10 2 30 400 50 6 7 8 9 10\ncpu0 1 1 1 1\n");
    ASSERT_TRUE(ticks);
    EXPECT_EQ(std::pair(ticks->busy, ticks->total), std::pair(63ul, 513ul)); // no guest again
    EXPECT_EQ(parseMachineTicks("cpu 1 2 3 4\n")->total, 10u);
    for (const char* bad : {"", "cpu0 1 2 3 4 5\n", "cpu 1 2 3\n", "cpu 1 x 3 4\n"})
        EXPECT_FALSE(parseMachineTicks(bad)) << bad;

    EXPECT_EQ(parseCgroupUsage("usage_usec 587368000\nuser_usec 4\n"), 587368000u);
    EXPECT_EQ(parseCgroupUsage("nr_periods 0\nusage_usec 12\n"), 12u);
    EXPECT_FALSE(parseCgroupUsage("user_usec 4\n"));
    EXPECT_FALSE(parseCgroupUsage("usage_usec -1\n"));

    EXPECT_EQ(pidNamespaceDepth("Name:\tx\nNSpid:\t4242\n"), 1u);
    EXPECT_EQ(pidNamespaceDepth("NSpid:\t4242\t17\t1\n"), 3u);
    EXPECT_EQ(pidNamespaceDepth("Name:\tx\n"), 0u);
}

TEST(SmallKernelFiles, MountsAndWhatHidesProcesses)
{
    const auto mounts = parseMountInfo(
        "22 1 0:5 / /proc rw,nosuid - proc proc rw,hidepid=invisible\n"
        "garbage without a separator\n"
        "30 22 0:27 / /sys/fs/cgroup rw shared:4 - tmpfs tmpfs rw\n"
        "40 30 0:37 / /sys/fs/cgroup/un\\040ified rw,relatime shared:9 - cgroup2 cgroup2 rw\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mountPointOf(mounts, "cgroup2"), "/sys/fs/cgroup/un ified");
    EXPECT_EQ(mountPointOf(mounts, "proc"), "/proc");
    EXPECT_FALSE(mountPointOf(mounts, "cgroup"));
    EXPECT_TRUE(procOptionsHideProcesses(mounts[0].options));
    for (const auto& [options, hides] : {std::pair{"rw,hidepid=2", true},
                                         {"rw,subset=pid", true},
                                         {"rw,hidepid=ptraceable", true},
                                         {"rw,hidepid=0", false},
                                         {"rw,hidepid=off", false},
                                         {"rw,relatime", false}})
        EXPECT_EQ(procOptionsHideProcesses(options), hides) << options;
}

} // namespace
