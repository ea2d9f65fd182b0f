// The kernel text parsers, on the shapes the kernel writes and on damaged text.

#include "kernel_text.h"
#include "proc_parse.h"

#include <gtest/gtest.h>

using namespace corvel;
using namespace std::string_literals;

namespace {

TEST(ProcStatParse, FieldsNamesThatRunToTheLastParenthesisAndDamagedLines)
{
    // A full 52-field line as the kernel writes it, after the pid and name.
    const std::string tail = " S 1 1234 1234 34816 -1 4194560 1130 0 0 0 250 75 0 0 20 0 3 0 98765 "
                             "10412032 880 18446744073709551615 1 1 140722 0 0 0 0 0 0 0 0 0 17 1 "
                             "0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    const std::string line = "4321 (bash)" + tail;
    const auto stat = parseProcStat(line);
    ASSERT_TRUE(stat);
    EXPECT_EQ(std::tuple(stat->pid, stat->comm, stat->state, stat->ppid, stat->utime, stat->stime,
                         stat->threads, stat->startTime, stat->rssPages, stat->startStack),
              std::tuple(4321, "bash", 'S', 1, 250u, 75u, 3, 98765u, 880, 140722u));
    // Cut right after rss: still a process, its stack position unknown.
    EXPECT_EQ(parseProcStat(line.substr(0, line.find(" 18446744073709551615")))->startStack, 0u);
    const std::string good = "12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1";
    const std::string noRss = good.substr(0, good.size() - 2);
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"7 (Web Content)" + tail, "Web Content"}, {"7 (a) b)" + tail, "a) b"}, {"7 ()" + tail, ""},
        {"7 ((sd-pam))" + tail, "(sd-pam)"}, {"7 ( ) ) R 9 (x) S)" + tail, " ) ) R 9 (x) S"},
        {good, "x"}, {"", "-"}, {"12", "-"}, {"12 (x", "-"}, {"(x) S 1", "-"},
        {"abc (x) S 1 2 3", "-"}, {"0" + good.substr(2), "-"}, {"-3" + good.substr(2), "-"},
        {"99999999999" + good.substr(2), "-"}, {noRss, "-"}, {noRss + "\n1", "-"},
        {"12 (x) S 1 1 1 0 -1 0 0 0 0 0 1 x 0 0 20 0 1 0 5 1 1", "-"},  // stime not a number
        {"12 (x) S 1 1 1 0 -1 0 0 0 0 0 -1 1 0 0 20 0 1 0 5 1 1", "-"}, // negative utime
        {"12 (x)S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1", "-"},
        {"12 (x) SS 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1", "-"}};
    // clang-format on
    for (const auto& [text, comm] : cases) // "-": refused
        EXPECT_EQ(parseProcStat(text) ? std::string(parseProcStat(text)->comm) : "-", comm) << text;
}

TEST(SmallKernelFiles, StatmCmdlineAndCommands)
{
    EXPECT_EQ(parseStatmResident("2542 880 640 244 0 312 0\n"), 880);
    for (const char* bad : {"", "2542\n", "2542 -1 0", "2542 88x0 0", "2542\n880 0", "x 880 0"})
        EXPECT_FALSE(parseStatmResident(bad)) << bad;
    EXPECT_EQ(parseSchedulerCounters("2213870 41094 37\n"),
              (SchedulerCounters{2213870, 41094, 37}));
    for (const char* bad : {"0 0 0\n", "2213870 41094\n", "1 -2 3\n", "1 2 x3\n"})
        EXPECT_FALSE(parseSchedulerCounters(bad)) << bad;
    // An empty argument keeps its place; trailing NULs go; a line feed is a space.
    EXPECT_EQ(joinCmdline("/usr/bin/foo\0--bar\0baz qux\0"s), "/usr/bin/foo --bar baz qux");
    EXPECT_EQ(joinCmdline("a\0\0b\0\0\0"s), "a  b");
    EXPECT_EQ(joinCmdline("two\nlines\0"s), "two lines");
    EXPECT_EQ(processCommand("", "a) (b", 'I'), "[a) (b]");
    EXPECT_EQ(processCommand("\0"s, "sleep", 'Z'), "[sleep] <defunct>");
    EXPECT_EQ(processCommand("bad\xFF\0arg\xC3\0"s, "x", 'Z'), "bad\xEF\xBF\xBD arg\xEF\xBF\xBD");
    EXPECT_EQ(processCommand("", "abcdefghijklm\xE2\x82", 'S'), "[abcdefghijklm\xEF\xBF\xBD]");
}

TEST(SmallKernelFiles, MachineTicksCgroupUsageNamespacesAndMounts)
{
    const auto ticks = parseMachineTicks("cpu  10 2 30 400 50 6 7 8 9 10\ncpu0 1 1 1 1\n");
    ASSERT_TRUE(ticks);
    EXPECT_EQ(std::pair(ticks->busy, ticks->total), std::pair(63ul, 513ul)); // no guest again
    EXPECT_EQ(parseMachineTicks("cpu 1 2 3 4\n")->total, 10u);
    for (const char* bad :
         {"", "cpu0 1 2 3 4 5\n", "cpu 1 2 3\n", "cpu 1 x 3 4\n", "cpu 1 +2 3 4\n"})
        EXPECT_FALSE(parseMachineTicks(bad)) << bad;
    EXPECT_EQ(parseCgroupUsage("nr_periods 0\nusage_usec 587368000\nuser_usec 4\n"), 587368000u);
    EXPECT_FALSE(parseCgroupUsage("user_usec 4\n") || parseCgroupUsage("usage_usec -1\n"));
    EXPECT_EQ(parseReclaimEvents("nr_free_pages 9\npgscan_kswapd 4\npgsteal_anon 5\npswpin 7\n"
                                 "pswpout 1\nthp_collapse_alloc 2\nthp_collapse_alloc_failed 9\n"),
              12u);
    EXPECT_FALSE(parseReclaimEvents("nr_free_pages 9\npswpin 7\n"));
    EXPECT_EQ(parseThreadCount("0.52 0.58 0.59 3/1176 31337\n"), 1176u);
    EXPECT_EQ(parseLastPid("0.52 0.58 0.59 3/1176 31337\n"), 31337);
    for (const char* bad : {"", "0.52 0.58 0.59 1176 1", "0.52 0.58 0.59 /9 1", "1 2 3 4/x 5"})
        EXPECT_FALSE(parseThreadCount(bad)) << bad;
    for (const char* bad : {"", "0.52 0.58 0.59 3/1176", "1 2 3 4/5 -6", "1 2 3 4/5 x"})
        EXPECT_FALSE(parseLastPid(bad)) << bad;
    EXPECT_EQ(pidNamespaceDepth("Name:\tx\nNSpid:\t4242\n"), 1u);
    EXPECT_EQ(pidNamespaceDepth("NSpid:\t4242\t17\t1\n"), 3u);
    EXPECT_EQ(pidNamespaceDepth("Name:\tx\n"), 0u);

    const auto mounts = parseMountInfo(
        "22 1 0:5 / /proc rw,nosuid - proc proc rw,hidepid=invisible\n"
        "garbage without a separator\n"
        "30 22 0:27 / /sys/fs/cgroup rw shared:4 - tmpfs tmpfs rw\n"
        "40 30 0:37 / /sys/fs/c\\134g/un\\040ified rw,relatime shared:9 - cgroup2 cgroup2 rw\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mountPointOf(mounts, "cgroup2"), "/sys/fs/c\\g/un ified");
    EXPECT_EQ(mountPointOf(mounts, "proc"), "/proc");
    EXPECT_FALSE(mountPointOf(mounts, "cgroup"));
    EXPECT_TRUE(procOptionsHideProcesses(mounts[0].options));
    for (const char* hides : {"rw,hidepid=2", "rw,subset=pid", "rw,hidepid=ptraceable"})
        EXPECT_TRUE(procOptionsHideProcesses(hides)) << hides;
    for (const char* shows : {"rw,hidepid=0", "rw,hidepid=off", "rw,relatime"})
        EXPECT_FALSE(procOptionsHideProcesses(shows)) << shows;
}

} // namespace
