// The sampler on a /proc tree and a cgroup tree the tests write, with a clock of their own.
// Every scenario runs twice, pruned by the cgroup tree and as a full scan, and both must give
// the same rows at every step.

#include "proc_sampler.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

using namespace corvel;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

struct Process
{
    int pid;
    std::string comm;
    std::string cgroup; // below the top; empty: the top itself
    unsigned long long ticks = 0;
    unsigned long long start = 100; // ticks since boot
    long long pages = 1;
    std::string cmdline = comm + '\0';
    char state = 'S';
    int ppid = 1;
};

class Machine : public ::testing::Test
{
protected:
    std::string proc() const { return (dir.path() / "proc").string(); }
    std::string cgroups() const { return (dir.path() / "cg").string(); }

    // Writes the process's files; `ran` also moves its cgroup's usage and every ancestor's.
    void put(const Process& p, bool ran = true)
    {
        const std::string base = "proc/" + std::to_string(p.pid) + "/";
        dir.write(base + "statm", "9999 " + std::to_string(p.pages) + " 10 1 0 50 0\n");
        dir.write(base + "stat", std::to_string(p.pid) + " (" + p.comm + ") " + p.state + " " +
                                     std::to_string(p.ppid) + " 1 1 0 -1 0 10 0 0 0 " +
                                     std::to_string(p.ticks) + " 0 0 0 20 0 1 0 " +
                                     std::to_string(p.start) + " 123 " +
                                     std::to_string(p.pages + 3) + " 1 1 1 " +
                                     std::to_string(p.start * 7 + p.comm.size()) + "\n");
        dir.write(base + "cmdline", p.cmdline);
        processes[p.pid] = p;
        for (fs::path g = p.cgroup; ran && !g.empty(); g = g.parent_path())
            usage[g.string()] += 1;
        writeCgroups();
    }
    void exit(int pid)
    {
        put(processes.at(pid)); // it ran to exit
        processes.erase(pid);
        fs::remove_all(dir.path() / "proc" / std::to_string(pid));
        writeCgroups();
    }
    // Reading a folder fails, even for root.
    void unreadable(const std::string& file)
    {
        fs::remove(dir.path() / file);
        fs::create_directories(dir.path() / file);
    }
    void writeCgroups()
    {
        std::map<std::string, std::string> members;
        for (const auto& [pid, p] : processes)
            members[p.cgroup] += std::to_string(pid) + "\n";
        for (const auto& [group, value] : usage) {
            dir.write("cg/" + group + "/cpu.stat", "usage_usec " + std::to_string(value) + "\n");
            if (!fs::is_directory(dir.path() / "cg" / group / "cgroup.procs"))
                dir.write("cg/" + group + "/cgroup.procs", members[group]);
        }
    }
    ProcSampler sampler(bool pruned)
    {
        ProcSamplerOptions options;
        options.root = proc();
        options.cgroupRoot = pruned ? cgroups() : "";
        options.pageSize = 4096;
        options.ticksPerSecond = 100;
        options.firstInterval = std::chrono::milliseconds(1000);
        options.secondsSinceBoot = [this] { return clock; };
        options.sleep = [this](std::chrono::milliseconds d) { clock += d.count() / 1000.0; };
        return ProcSampler(options);
    }
    // One cycle of both samplers at the same moment: the rows must agree.
    std::vector<PSRow> cycle(ProcSampler& pruned, ProcSampler& full)
    {
        const double at = clock += 2;
        auto rows = pruned.take();
        clock = at;
        const auto key = [](const std::vector<PSRow>& list) {
            std::vector<std::tuple<int, int, double, std::int64_t, std::string>> keys;
            for (const PSRow& r : list)
                keys.emplace_back(r.pid, r.ppid, r.cpu, r.rssKB, r.command);
            return keys;
        };
        EXPECT_EQ(key(rows), key(full.take()));
        return rows;
    }
    static const PSRow& row(const std::vector<PSRow>& rows, int pid)
    {
        for (const PSRow& r : rows)
            if (r.pid == pid)
                return r;
        static const PSRow none{0, 0, -1, -1, "(none)"};
        return none;
    }

    corvel::testing::TempDir dir;
    double clock = 1000;
    std::map<int, Process> processes;
    std::map<std::string, unsigned long long> usage;
};

TEST_F(Machine, PrunedRowsEqualAFullScanThroughBirthsExitsExecsAndReuse)
{
    for (int i = 0; i < 20; ++i)
        put({1000 + i, "idle", "user/app-" + std::to_string(i % 4)});
    put({2, "kthreadd", "", 5, 1, 0, ""});
    put({300, "busy", "user/busy"});
    put({400, "locked", "locked"});
    unreadable("cg/locked/cgroup.procs");
    put({401, "gone", "user/gone"});
    ProcSampler pruned = sampler(true), full = sampler(false);
    const auto first = cycle(pruned, full);
    EXPECT_EQ(first.size(), 24u);

    // Runs: the busy one half a processor, a kernel thread, one in an unreadable cgroup.
    Process busy = processes.at(300), kernel = processes.at(2), locked = processes.at(400);
    busy.ticks += 100, kernel.ticks += 20, locked.ticks += 2;
    for (const Process& p : {busy, kernel, locked})
        put(p);
    exit(401);
    put({500, "child", "user/busy", 3, 100450, 2, "child\0-x\0"s, 'R', 300}); // born 0.5 s ago
    auto rows = cycle(pruned, full);
    EXPECT_EQ(pruned.unread(), 20u) << "all but the busy, child, kernel thread, locked one";
    EXPECT_EQ(full.unread(), 0u);
    EXPECT_DOUBLE_EQ(row(rows, 300).cpu, 50.0);
    EXPECT_DOUBLE_EQ(row(rows, 500).cpu, 6.0);
    EXPECT_DOUBLE_EQ(row(rows, 2).cpu, 10.0);
    EXPECT_DOUBLE_EQ(row(rows, 1000).cpu, 0.0);
    EXPECT_EQ(row(rows, 401).pid, 0);

    // An exec in an idle cgroup; a pid reused in another; a process moved to a new cgroup
    // without running, which then runs there.
    put({1001, "python3", "user/app-1", 0, 100, 1, "python3\0-m\0http.server\0"s});
    exit(500);
    put({500, "reborn", "user/app-2", 40, 100600, 9}); // born a second ago
    Process moved = processes.at(1003);
    moved.cgroup = "user/late";
    put(moved, false);
    rows = cycle(pruned, full);
    EXPECT_EQ(row(rows, 1001).command, "python3 -m http.server");
    EXPECT_EQ(row(rows, 500).command, "reborn");
    EXPECT_DOUBLE_EQ(row(rows, 500).cpu, 40.0);
    moved.ticks += 10;
    put(moved);
    EXPECT_DOUBLE_EQ(row(cycle(pruned, full), 1003).cpu, 5.0);

    // Memory moves without running: every figure is fresh within ten seconds.
    for (int i = 0; i < 20; ++i) {
        Process p = processes.at(1000 + i);
        p.pages = 50;
        put(p, false);
    }
    for (int step = 0; step < 5; ++step)
        clock += 2, rows = pruned.take();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(row(rows, 1000 + i).rssKB, 200) << 1000 + i;
}

TEST_F(Machine, DamagedEntriesAndAMissingTree)
{
    put({11, "a) (b", "", 0, 100, 1, "/opt/caf\xC3\xA9/t\0\xFF\0"s});
    put({12, "sh", "", 0, 100, 0, "", 'Z'});
    dir.write("proc/self/stat", "1 (x) S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    dir.write("proc/21x/stat", "21 (x) S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    dir.write("proc/25/stat", "garbage\n");
    dir.write("proc/26/stat", "27 (other) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    fs::create_directories(dir.path() / "proc/22"); // vanished: no files left
    put({23, "locked", "", 0, 100, 4});
    unreadable("proc/23/cmdline"); // shown by name
    unreadable("proc/23/statm");   // stat's count then
    fs::create_directories(dir.path() / "cg-later");
    ProcSampler pruned = sampler(true), full = sampler(false);
    const auto rows = cycle(pruned, full);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(row(rows, 11).command, "/opt/caf\xC3\xA9/t \xEF\xBF\xBD");
    EXPECT_EQ(row(rows, 12).command, "[sh] <defunct>");
    EXPECT_EQ(row(rows, 23).command, "[locked]");
    EXPECT_EQ(row(rows, 23).rssKB, 28);
    fs::rename(dir.path() / "cg-later", dir.path() / "cg"); // the tree appears
    cycle(pruned, full);
    EXPECT_EQ(pruned.cgroupsRead(), 1u);
}

TEST_F(Machine, MachineShareOnlyWhenProcessesMayBeHidden)
{
    const std::string mount = "20 1 0:5 / " + proc() + " rw - proc proc rw";
    const std::tuple<std::string, std::string, bool> cases[] = {
        {mount + "\n", "NSpid:\t4242\n", false},
        {mount + ",hidepid=invisible\n", "NSpid:\t4242\n", true},
        {mount + ",hidepid=0\n", "", false},
        {mount + "\n", "NSpid:\t4242\t7\n", true}};
    put({10, "x", ""});
    for (const auto& [mountinfo, status, hidden] : cases) {
        dir.write("proc/self/mountinfo", mountinfo);
        dir.write("proc/self/status", status);
        dir.write("proc/stat", "cpu  100 0 100 800 0 0 0 0 0 0\ncpu0 1 1 1 1\n");
        ProcSampler s = sampler(false);
        clock += 2;
        s.take();
        EXPECT_FALSE(s.machineShare()) << "a single reading measures nothing";
        dir.write("proc/stat", "cpu  250 0 130 810 10 0 0 0 0 0\n"); // iowait is idle
        s.take();
        EXPECT_EQ(s.machineShare(), hidden ? std::optional(90.0) : std::nullopt)
            << mountinfo << status;
    }
}

} // namespace
