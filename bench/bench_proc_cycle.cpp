// The CPU cost of one sampling cycle (snapshot + group) from the /proc reader, pruned by the
// cgroup tree as configured by default and as a full scan, next to a bare reader that opens
// and reads stat, statm and cmdline of every process each time (the floor for a full scan of
// /proc), and next to running ps; then the same with every process in a cgroup that moves
// (a busy machine), pruned against full. Paired: every round runs each contender once,
// in turn, and the medians over the rounds are reported, as are the medians of the per-round
// ratios. CPU time is user + system of this process and its reaped children (ps).
//
//   bench_proc_cycle [--rounds N] [--extra 0,1000,5000]
//   bench_proc_cycle --loop     one cycle every 2 s until killed, as the status item will run
//
// For each "extra" count the benchmark first starts that many idle children of its own, in
// cgroups of its own (as root, where cgroup2 is mounted), and kills and reaps them afterwards.

#include "attribution.h"
#include "group_cache.h"
#include "proc_dir.h"
#include "proc_sampler.h"
#include "ps_tool.h"
#include "snapshot.h"
#include "support/idle_children.h"
#include "support/test_cgroup.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvel;

namespace {

double cpuSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    return total;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The floor: what any /proc reader must do at the least, with nothing kept between cycles.
std::size_t bareRead()
{
    std::size_t bytes = 0;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return 0;
    char path[300];
    char buffer[4096];
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        for (const char* file : {"stat", "statm", "cmdline"}) {
            std::snprintf(path, sizeof path, "/proc/%s/%s", entry->d_name, file);
            const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            bytes += n > 0 ? static_cast<std::size_t>(n) : 0;
            ::close(fd);
        }
    }
    ::closedir(dir);
    return bytes;
}

std::size_t processCount()
{
    std::vector<std::int32_t> pids;
    ProcDir("/proc").listPids(pids);
    return pids.size();
}

struct Contender
{
    const char* name;
    std::function<void()> cycle;
    int repeat = 1; // cycles per measurement, so that each lasts long enough to time
    std::vector<double> perCycle;
};

void calibrate(Contender& c)
{
    const double start = cpuSeconds();
    c.cycle();
    const double once = std::max(cpuSeconds() - start, 1e-5);
    c.repeat = std::clamp(static_cast<int>(0.03 / once), 1, 200);
}

void measure(Contender& c)
{
    const double start = cpuSeconds();
    for (int i = 0; i < c.repeat; ++i)
        c.cycle();
    c.perCycle.push_back((cpuSeconds() - start) / c.repeat);
}

std::size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct LevelResult
{
    std::size_t processes = 0;
    double pruned = 0, full = 0, bare = 0, ps = 0, busyPruned = 0, busyFull = 0;
    double prunedToBare = 0, fullToBare = 0, prunedToPs = 0, busyRatio = 0;
    std::size_t unread = 0, cgroupsRead = 0, prunedHeap = 0;
    bool cgroups = false;
};

// Runs the contenders in turn, `rounds` times; the medians of their cycles and of the ratios
// of the first to each other one, per round.
std::vector<double> contest(std::vector<Contender>& contenders, int rounds,
                            std::vector<double>& ratios)
{
    for (Contender& c : contenders)
        calibrate(c);
    for (int round = 0; round < rounds; ++round) {
        for (Contender& c : contenders)
            measure(c);
    }
    std::vector<double> medians;
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        medians.push_back(median(contenders[i].perCycle));
        std::vector<double> perRound;
        for (int r = 0; r < rounds; ++r)
            perRound.push_back(contenders[0].perCycle[r] / contenders[i].perCycle[r]);
        ratios.push_back(median(perRound));
    }
    return medians;
}

ProcSamplerOptions fullScan()
{
    ProcSamplerOptions options;
    options.cgroupRoot = "";
    return options;
}

// The boot clock, run 2 s ahead at every cycle as the status item's cycles are spaced, so
// that idle processes' resident sizes are re-read at their real pace.
double paced = 0;
ProcSamplerOptions statusItemPace()
{
    ProcSamplerOptions options;
    options.secondsSinceBoot = [] {
        timespec ts{};
        ::clock_gettime(CLOCK_BOOTTIME, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9 + paced;
    };
    return options;
}

LevelResult runLevel(int extra, int rounds)
{
    corvel::testing::IdleChildren children(static_cast<std::size_t>(extra));
    LevelResult result;
    result.processes = processCount();
    const AppLookups noApps;
    const AppsByPID noPids;
    const AppsByPath noPaths;

    // Idle: the children spread over ten cgroups of their own, where nothing runs.
    {
        std::vector<std::unique_ptr<corvel::testing::TestCgroup>> groups;
        for (int g = 0; g < 10; ++g)
            groups.push_back(
                std::make_unique<corvel::testing::TestCgroup>("bench-idle-" + std::to_string(g)));
        result.cgroups = !groups[0]->path().empty();
        for (std::size_t i = 0; i < children.pids().size() && result.cgroups; ++i)
            groups[i % groups.size()]->add(children.pids()[i]);

        const std::size_t heapBefore = heapInUse();
        ProcSampler pruned(statusItemPace()), full(fullScan());
        GroupCache prunedCache, fullCache;
        const auto prunedCycle = [&] { paced += 2, prunedCache.group(pruned.takeParts(), noApps); };
        // At rest: past the first ten seconds, when every idle process's memory is read at the
        // faster pace (the reclaim counters' first reading counts as a move).
        for (int i = 0; i < 8; ++i)
            prunedCycle();
        result.prunedHeap = heapInUse() - heapBefore;
        full.take();
        std::vector<Contender> contenders;
        contenders.push_back({"pruned", prunedCycle});
        contenders.push_back({"full", [&] { fullCache.group(full.takeParts(), noApps); }});
        contenders.push_back({"bare", [] { bareRead(); }});
        contenders.push_back({"ps", [&] { group(runPS(), noPids, noPaths); }});
        std::vector<double> ratios;
        const auto m = contest(contenders, rounds, ratios);
        result.pruned = m[0], result.full = m[1], result.bare = m[2], result.ps = m[3];
        result.prunedToBare = ratios[2], result.prunedToPs = ratios[3];
        result.unread = pruned.unread();
        result.cgroupsRead = pruned.cgroupsRead();
        std::vector<double> fullRatios;
        std::vector<Contender> fullAndBare{{"full", [&] { full.take(); }},
                                           {"bare", [] { bareRead(); }}};
        contest(fullAndBare, std::max(3, rounds / 3), fullRatios);
        result.fullToBare = fullRatios[1];
    }

    // Busy: the children in the benchmark's own cgroup, which moves every cycle, so every
    // process is read as a full scan would, plus the walk.
    {
        corvel::testing::TestCgroup busy("bench-busy");
        busy.add(::getpid());
        for (const pid_t pid : children.pids())
            busy.add(pid);
        ProcSampler pruned(statusItemPace()), full(fullScan());
        GroupCache prunedCache, fullCache;
        pruned.take();
        full.take();
        std::vector<Contender> contenders;
        contenders.push_back(
            {"pruned", [&] { paced += 2, prunedCache.group(pruned.takeParts(), noApps); }});
        contenders.push_back({"full", [&] { fullCache.group(full.takeParts(), noApps); }});
        std::vector<double> ratios;
        const auto m = contest(contenders, rounds, ratios);
        result.busyPruned = m[0], result.busyFull = m[1], result.busyRatio = ratios[1];
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--loop") {
        ProcSampler sampler;
        GroupCache cache;
        for (;;) {
            cache.group(sampler.takeParts(), AppLookups{});
            ::sleep(2);
        }
    }
    int rounds = 15;
    std::vector<int> extras = {0, 1000, 5000};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--extra") {
            extras.clear();
            for (char* s = argv[i + 1]; *s;) {
                extras.push_back(static_cast<int>(std::strtol(s, &s, 10)));
                if (*s == ',')
                    ++s;
            }
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("rounds %d, CPU ms per cycle (median); ratios are medians of per-round ratios\n"
                "idle: extra processes in idle cgroups; busy: in the benchmark's own cgroup\n",
                rounds);
    std::printf("%6s %6s | %8s %8s %8s %8s | %8s %8s %8s | %7s %7s | %8s %8s %8s | %8s\n", "extra",
                "procs", "pruned", "full", "bare", "ps", "prn/bare", "full/bare", "prn/ps",
                "unread", "cgroups", "busy prn", "busy ful", "prn/full", "heap KB");
    for (const int extra : extras) {
        const LevelResult r = runLevel(extra, rounds);
        std::printf("%6d %6zu | %8.3f %8.3f %8.3f %8.3f | %8.3f %8.3f %8.3f | %7zu %7zu | %8.3f "
                    "%8.3f %8.3f | %8.1f%s\n",
                    extra, r.processes, r.pruned * 1e3, r.full * 1e3, r.bare * 1e3, r.ps * 1e3,
                    r.prunedToBare, r.fullToBare, r.prunedToPs, r.unread, r.cgroupsRead,
                    r.busyPruned * 1e3, r.busyFull * 1e3, r.busyRatio,
                    static_cast<double>(r.prunedHeap) / 1024.0,
                    r.cgroups ? "" : "  (no cgroups: idle ones not placed)");
        std::fflush(stdout);
    }
    return 0;
}
