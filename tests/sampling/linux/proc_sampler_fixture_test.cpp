// The sampler on a /proc tree and a cgroup tree the tests write, with a clock of their own.
// Every scenario runs twice, pruned by the cgroup tree and as a full scan, and both must give
// the same rows at every step.

#include "group_cache.h"
#include "kept_files.h"
#include "proc_sampler.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>

using namespace corvel;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

struct Process
{
    int pid;
    std::string comm, cgroup;                  // cgroup below the top; empty: the top itself
    unsigned long long ticks = 0, start = 100; // start: ticks since boot
    long long pages = 1;
    std::string cmdline = comm + '\0';
    char state = 'S';
    int ppid = 1;
    int threads = 1; // beyond the first, threads whose runs its scheduler counters miss
};

const PSRow& row(const std::vector<PSRow>& rows, int pid)
{
    static const PSRow none{0, 0, -1, -1, "(none)"};
    const auto it = std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.pid == pid; });
    return it == rows.end() ? none : *it;
}

class Machine : public ::testing::Test
{
protected:
    // Writes the process's files; `ran` also moves its cgroup's usage and every ancestor's, and
    // the scheduler counters of a process with one thread.
    void put(const Process& p, bool ran = true)
    {
        const std::string base = "proc/" + std::to_string(p.pid) + "/";
        char stat[256];
        std::snprintf(stat, sizeof stat,
                      "%d (%s) %c %d 1 1 0 -1 0 10 0 0 0 %llu 0 0 0 20 0 %d 0 %llu 123 %lld 1 1 1 "
                      "%llu\n",
                      p.pid, p.comm.c_str(), p.state, p.ppid, p.ticks, p.threads, p.start,
                      p.pages + 3, p.start * 7 + p.cmdline.size()); // the stack moves with an exec
        dir.write(base + "stat", stat);
        if (const std::string n = std::to_string(++runs); ran && p.threads == 1) // none alike
            dir.write(base + "schedstat", n + "00 7 " + n + "\n");
        dir.write(base + "statm", "9999 " + std::to_string(p.pages) + " 10 1 0 50 0\n");
        dir.write(base + "cmdline", p.cmdline);
        processes[p.pid] = p;
        for (fs::path g = p.cgroup; ran && !g.empty(); g = g.parent_path())
            usage[g.string()] += 1;
        writeCgroups();
    }
    void run(int pid, int ticks) { processes.at(pid).ticks += ticks, put(processes.at(pid)); }
    void exit(int pid)
    {
        put(processes.at(pid)); // it ran to exit
        processes.erase(pid);
        fs::remove_all(dir.path("proc/" + std::to_string(pid)));
        writeCgroups();
    }
    // Reading a folder fails, even for root.
    void unreadable(const std::string& file) { fs::remove(dir.path(file)), dir.makeFolder(file); }
    void writeCgroups()
    {
        std::map<std::string, std::string> members;
        for (const auto& [pid, p] : processes)
            members[p.cgroup] += std::to_string(pid) + "\n";
        for (const auto& [group, value] : usage) {
            dir.write("cg/" + group + "/cpu.stat", "usage_usec " + std::to_string(value) + "\n");
            if (!fs::is_directory(dir.path("cg/" + group + "/cgroup.procs")))
                dir.write("cg/" + group + "/cgroup.procs", members[group]);
        }
        dir.write("cg/cgroup.procs", members[""]);
        dir.write("proc/loadavg",
                  "0.1 0.1 0.1 1/" + std::to_string(processes.size() + unseenThreads) + " 9\n");
    }
    ProcSampler sampler(bool pruned)
    {
        ProcSamplerOptions options{dir.path("proc"), pruned ? dir.path("cg").string() : "", 4096,
                                   100};
        options.firstInterval = std::chrono::milliseconds(1000);
        options.calmRefreshesPerRead = 1; // above what the calm pace needs here, not the fast

        options.secondsSinceBoot = [this] { return clock; };
        options.sleep = [this](std::chrono::milliseconds d) { clock += d.count() / 1000.0; };
        return ProcSampler(options);
    }
    // One cycle of both samplers at the same moment: the rows must agree, and the pruned
    // sampler's parts, with the attributions kept for its idle ones, must come to what a
    // whole regrouping of its rows makes.
    std::vector<PSRow> cycle(ProcSampler& pruned, ProcSampler& full)
    {
        const double at = clock += 2;
        const std::vector<PSRow> rows = take(pruned);
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
    std::vector<PSRow> take(ProcSampler& pruned)
    {
        const std::vector<RowPart> parts = pruned.takeParts();
        std::vector<PSRow> rows;
        for (const RowPart& part : parts)
            rows.insert(rows.end(), part.rows->begin(), part.rows->end());
        const auto shown = [](const Grouping& g) {
            std::vector<std::tuple<std::string, std::string, std::int64_t, double, std::int64_t>> s;
            for (const AppUsage& a : g.apps)
                s.emplace_back(a.id, a.name, a.processCount, a.cpu, a.memoryKB);
            return std::pair(s, g.total);
        };
        EXPECT_EQ(shown(cache.group(parts, lookups)),
                  shown(group(rows, lookups.byPID, lookups.byBundlePath, lookups.byUnit)));
        reused += cache.reusedRows();
        std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
        return rows;
    }
    static RunningAppRef app(std::int32_t pid, std::string id)
    {
        return std::make_shared<const RunningApp>(RunningApp{pid, {}, {}, id, id, {}});
    }
    // Applications of their own process (one with a child), and a unit's.
    const AppLookups lookups =
        buildLookups({{app(300, "busy"), app(1000, "idle")},
                      {},
                      {{1002, {app(0, "unit"), 1}}, {1006, {app(0, "unit"), 1}}}});
    GroupCache cache;
    std::size_t reused = 0;

    corvel::testing::TempDir dir;
    double clock = 1000;
    std::map<int, Process> processes;
    std::map<std::string, unsigned long long> usage;
    int unseenThreads = 3; // besides one a process: until a test says otherwise none comes out
    int runs = 0;
};

TEST_F(Machine, PrunedRowsEqualAFullScanThroughBirthsExitsExecsAndReuse)
{
    for (int i = 0; i < 20; ++i)
        put({1000 + i, "idle", "user/app-" + std::to_string(i % 4)});
    put({2, "kthreadd", "", 5, 1, 0, ""});
    put({3, "kworker", "", 5, 1, 7, "", 'I', 2}); // kernel threads own no memory
    put({300, "busy", "user/busy"});
    put({400, "locked", "locked"});
    unreadable("cg/locked/cgroup.procs");
    put({401, "gone", "user/gone"});
    ProcSampler pruned = sampler(true), full = sampler(false);
    EXPECT_EQ(cycle(pruned, full).size(), 25u);

    // Runs: the busy one half a processor, a kernel thread, one in an unreadable cgroup.
    run(300, 100), run(2, 20), run(400, 2);
    exit(401);
    put({500, "child", "user/busy", 3, 100450, 2, "child\0-x\0"s, 'R', 300}); // born 0.5 s ago
    put({501, "title", "user/busy", 0, 100450}); // sets its title right after it starts
    put({402, "new", "locked"});
    auto rows = cycle(pruned, full);
    EXPECT_EQ(pruned.unread(), 20u) << "all but the busy, child, kernel threads, locked one";
    EXPECT_EQ(full.unread(), 0u);
    for (const auto& [pid, share] : {std::pair{300, 50.0}, {500, 6.0}, {2, 10.0}, {1000, 0.0}})
        EXPECT_NEAR(row(rows, pid).cpu, share, 1e-9) << pid;
    EXPECT_EQ(std::tuple(row(rows, 401).pid, row(rows, 3).rssKB, row(rows, 3).command),
              std::tuple(0, 0, "[kworker]"));

    // An exec in an idle cgroup: a new name, or only a new stack; a pid reused in another; a
    // process moved to a new cgroup without running, which then runs there.
    put({1001, "python3", "user/app-1", 0, 100, 1, "python3\0-m\0http.server\0"s});
    put({1002, "idle", "user/app-2", 0, 100, 1, "idle\0--exec\0"s});
    exit(500);
    processes.at(501).cmdline = "TITLE"s + '\0', run(501, 1);
    put({500, "reborn", "user/app-2", 40, 100600, 9}); // born a second ago
    processes.at(1003).cgroup = "user/late";
    put(processes.at(1003), false);
    rows = cycle(pruned, full);
    EXPECT_EQ(std::tuple(row(rows, 1001).command, row(rows, 1002).command, row(rows, 500).command,
                         row(rows, 501).command),
              std::tuple("python3 -m http.server", "idle --exec", "reborn", "TITLE"));
    EXPECT_NEAR(row(rows, 500).cpu, 40.0, 1e-9);
    run(1003, 10);
    EXPECT_NEAR(row(cycle(pruned, full), 1003).cpu, 5.0, 1e-9);

    // Memory moves without running: every figure is fresh within ten seconds. With every
    // cgroup's list readable, a zombie in none is seen by the listing that comes now and then,
    // here where the machine's thread count never comes out (another PID namespace's).
    fs::remove(dir.path("cg/locked/cgroup.procs"));
    put({600, "z", "limbo", 0, 100, 0, "", 'Z'}, false);
    for (auto& [pid, p] : processes)
        p.pages = 50, put(p, false);
    for (int step = 0; step < 15; ++step) {
        clock += 2, rows = take(pruned);
        for (int i = 0; i < 20 && step == 4; ++i)
            EXPECT_EQ(row(rows, 1000 + i).rssKB, 200) << 1000 + i;
    }
    EXPECT_EQ(row(rows, 600).command, "[z] <defunct>");
    unseenThreads = 0; // where it comes out, one missing from every list is looked for at once
    for (const int pid : {0, 601, 0})
        (pid ? put({pid, "y", "limbo", 0, 100, 0, "", 'Z'}, false) : writeCgroups()), clock += 2,
            rows = take(pruned);
    EXPECT_EQ(row(rows, 601).command, "[y] <defunct>");

    // Reclaim counters that stand still: idle figures wait for the calm pace, ten minutes; once
    // they move, every figure is fresh within ten seconds again.
    const auto freshAfter = [&](int seconds, long long pages) {
        for (auto& [pid, p] : processes)
            p.pages = pages, put(p, false);
        for (int t = 0; t < seconds; t += 2)
            clock += 2, rows = take(pruned);
        int fresh = 0;
        for (int i = 0; i < 20; ++i)
            fresh += row(rows, 1000 + i).rssKB == pages * 4;
        return fresh;
    };
    dir.write("proc/vmstat", "nr_free_pages 9\npgsteal_kswapd 7\npswpout 2\n");
    freshAfter(12, 50); // the first reading of the counters starts at the faster pace
    EXPECT_LT(freshAfter(60, 60), 20);
    run(1004, 20); // its cgroup long put aside: the share counts from the cycle before
    clock += 2;
    EXPECT_EQ(row(take(pruned), 1004).cpu, 10.0);
    EXPECT_EQ(freshAfter(540, 60), 20);
    dir.write("proc/vmstat", "nr_free_pages 9\npgsteal_kswapd 8\npswpout 2\n");
    EXPECT_EQ(freshAfter(10, 70), 20);
    EXPECT_GT(reused, 0u) << "idle cgroups' attributions were kept";
}

// In a cgroup that moves (here the top, as on many a desktop) the stat of a process whose main
// thread's scheduler counters stood still is not read; the parent it shows is checked.
TEST_F(Machine, StillCountersStandInForStatWhereTheCgroupMoves)
{
    for (const auto& [pid, ppid] :
         {std::pair{1, 0}, {5, 1}, {10, 1}, {11, 10}, {12, 1}, {13, 14}, {14, 1}})
        put({.pid = pid, .comm = "p", .ppid = ppid});
    processes.at(12).threads = 2, put(processes.at(12)); // its counters stay those of one
    dir.write("proc/5/schedstat", "0 0 0\n");            // not run yet
    ProcSampler pruned = sampler(true), full = sampler(false);
    for (int i = 0; i < 4; ++i)
        cycle(pruned, full);
    EXPECT_EQ(pruned.unread(), 5u) << "all but the one with two threads";

    // Its second thread runs; a parent ends; another ends and its pid is taken at once.
    processes.at(12).ticks += 5, put(processes.at(12));
    exit(10), exit(14);
    put({.pid = 14, .comm = "newcomer", .start = 100600});
    for (const int orphan : {11, 13})
        processes.at(orphan).ppid = 1, put(processes.at(orphan), false);
    const auto rows = cycle(pruned, full);
    EXPECT_EQ(std::tuple(row(rows, 11).ppid, row(rows, 13).ppid, row(rows, 12).cpu),
              std::tuple(1, 1, 2.5));
}

TEST_F(Machine, DamagedEntriesAndAMissingTree)
{
    put({11, "a) (b", "", 0, 100, 1, "/opt/caf\xC3\xA9/t\0\xFF\0"s});
    put({12, "sh", "", 0, 100, 0, "", 'Z'});
    for (const auto& [file, text] :
         {std::pair{"self", "1 (x)"}, {"21x", "21 (x)"}, {"25", "garbage"}, {"26", "27 (other)"}})
        for (const char* name : {"/stat", "/statm", "/cmdline"})
            dir.write("proc/"s + file + name,
                      text + " S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1"s);
    dir.makeFolder("proc/22"); // vanished: no files left
    put({23, "locked", "", 0, 100, 4});
    unreadable("proc/23/cmdline");                    // shown by name
    unreadable("proc/23/statm");                      // stat's count then
    fs::rename(dir.path("cg"), dir.path("cg-later")); // no tree yet
    ProcSampler pruned = sampler(true), full = sampler(false);
    const auto rows = cycle(pruned, full);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(row(rows, 11).command, "/opt/caf\xC3\xA9/t \xEF\xBF\xBD");
    EXPECT_EQ(row(rows, 12).command, "[sh] <defunct>");
    EXPECT_EQ(std::pair(row(rows, 23).command, row(rows, 23).rssKB), std::pair("[locked]"s, 28l));
    fs::rename(dir.path("cg-later"), dir.path("cg")); // the tree appears
    cycle(pruned, full);
    EXPECT_EQ(pruned.cgroupsRead(), 1u);
}

TEST_F(Machine, KeptStatFilesNeverOutnumberTheirLimit)
{
    for (int pid = 10; pid < 20; ++pid)
        put({pid, "p", ""});
    ProcDir proc(dir.path("proc").string());
    KeptFiles kept(3);
    std::map<int, KeptFiles::File> files;
    char buffer[512];
    // Low pids after high ones (a wrap-around), a slot handed on, slots that go.
    for (const int pid : {15, 16, 17, 10, 11, -16, 18, 12, -17, -15, 13, 14, 19}) {
        if (pid < 0)
            files.erase(-pid);
        else
            EXPECT_GT(kept.read(proc, pid, "stat", files[pid], buffer, sizeof buffer), 0) << pid;
        if (pid == 11)
            files[99] = std::move(files[10]);
        EXPECT_EQ(
            std::count_if(files.begin(), files.end(), [](auto& f) { return f.second.open(); }),
            static_cast<long>(kept.open()));
        EXPECT_LE(kept.open(), 3u) << pid;
    }
    EXPECT_EQ(kept.open(), 3u);
}

TEST_F(Machine, MachineShareOnlyWhenProcessesMayBeHidden)
{
    const std::string mount = "20 1 0:5 / " + dir.path("proc").string() + " rw - proc proc rw";
    const std::tuple<std::string, std::string, bool> cases[] = {
        {mount + "\n", "NSpid:\t4242\n", false},
        {mount + ",hidepid=invisible\n", "NSpid:\t4242\n", true},
        {mount + ",hidepid=0\n", "", false},
        {mount + "\n", "NSpid:\t4242\t7\n", true},
        {"20 1 0:5 / /elsewhere rw - proc proc rw,hidepid=2\n", "", false}};
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
