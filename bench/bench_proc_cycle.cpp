// The CPU cost of one sampling cycle (snapshot + group) from the /proc reader, as configured
// by default and keeping descriptors open between cycles, next to a bare reader that opens and
// reads stat, statm and cmdline of every process each time (the floor for reading /proc), and
// next to running ps. Paired: every round runs each contender once,
// in turn, and the medians over the rounds are reported, as are the medians of the per-round
// ratios. CPU time is user + system of this process and its reaped children (ps).
//
//   bench_proc_cycle [--rounds N] [--extra 0,1000,5000]
//   bench_proc_cycle --loop     one cycle every 2 s until killed, as the status item will run
//
// For each "extra" count the benchmark first starts that many idle children of its own and
// kills and reaps them afterwards.

#include "attribution.h"
#include "proc_sampler.h"
#include "support/idle_children.h"
#include "snapshot.h"

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

long kernelUnreclaimableKB()
{
    FILE* f = std::fopen("/proc/meminfo", "r");
    long value = -1;
    char line[256];
    while (f && std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "SUnreclaim: %ld kB", &value) == 1)
            break;
    }
    if (f)
        std::fclose(f);
    return value;
}

struct LevelResult
{
    std::size_t processes = 0;
    double sampler = 0, samplerKeep = 0, bare = 0, ps = 0;
    double ratioBare = 0, ratioKeepBare = 0, ratioPs = 0;
    std::size_t samplerHeap = 0;
    std::size_t keptFiles = 0;
    long keptKernelKB = 0;
};

LevelResult runLevel(int extra, int rounds)
{
    corvel::testing::IdleChildren children(static_cast<std::size_t>(extra));
    LevelResult result;
    result.processes = processCount();

    const std::size_t heapBefore = heapInUse();
    ProcSampler sampler;
    sampler.take();
    sampler.take();
    result.samplerHeap = heapInUse() - heapBefore;

    ProcSamplerOptions keep;
    keep.maxKeptFiles = SIZE_MAX; // a quarter of the descriptor limit
    ProcSampler samplerKeep(keep);
    samplerKeep.take();
    result.keptFiles = samplerKeep.keptFiles();

    // Descriptors held open (by the "keep" variant) pin kernel memory, a seq_file buffer
    // each: compare with all of them closed, a few times, and keep the median.
    {
        std::vector<double> deltas;
        for (int i = 0; i < 5; ++i) {
            long open = 0;
            {
                ProcSampler probe(keep);
                probe.take();
                open = kernelUnreclaimableKB();
            }
            deltas.push_back(static_cast<double>(open - kernelUnreclaimableKB()));
        }
        result.keptKernelKB = static_cast<long>(median(deltas));
    }

    const AppsByPID noApps;
    const AppsByPath noPaths;
    std::vector<Contender> contenders;
    contenders.push_back({"sampler", [&] { group(sampler.take(), noApps, noPaths); }});
    contenders.push_back({"bare", [] { bareRead(); }});
    contenders.push_back({"ps", [&] { group(runPS(), noApps, noPaths); }});
    contenders.push_back({"sampler-keep", [&] { group(samplerKeep.take(), noApps, noPaths); }});
    for (Contender& c : contenders)
        calibrate(c);
    for (int round = 0; round < rounds; ++round) {
        for (Contender& c : contenders)
            measure(c);
    }

    std::vector<double> toBare, keepToBare, toPs;
    for (int i = 0; i < rounds; ++i) {
        toBare.push_back(contenders[0].perCycle[i] / contenders[1].perCycle[i]);
        toPs.push_back(contenders[0].perCycle[i] / contenders[2].perCycle[i]);
        keepToBare.push_back(contenders[3].perCycle[i] / contenders[1].perCycle[i]);
    }
    result.sampler = median(contenders[0].perCycle);
    result.bare = median(contenders[1].perCycle);
    result.ps = median(contenders[2].perCycle);
    result.samplerKeep = median(contenders[3].perCycle);
    result.ratioBare = median(toBare);
    result.ratioKeepBare = median(keepToBare);
    result.ratioPs = median(toPs);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--loop") {
        ProcSampler sampler;
        for (;;) {
            group(sampler.take(), AppsByPID{}, AppsByPath{});
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

    std::printf("rounds %d, CPU ms per cycle (median), ratios = median of per-round ratios\n",
                rounds);
    std::printf("%6s %6s | %8s %8s %8s %8s | %8s %8s %8s | %9s %6s %9s\n", "extra", "procs",
                "sampler", "keep", "bare", "ps", "smp/bare", "kp/bare", "smp/ps", "heap KB",
                "kp fds", "kp kernKB");
    std::vector<LevelResult> results;
    for (const int extra : extras) {
        const LevelResult r = runLevel(extra, rounds);
        results.push_back(r);
        std::printf("%6d %6zu | %8.3f %8.3f %8.3f %8.3f | %8.2f %8.2f %8.3f | %9.1f %6zu %9ld\n",
                    extra, r.processes, r.sampler * 1e3, r.samplerKeep * 1e3, r.bare * 1e3,
                    r.ps * 1e3, r.ratioBare, r.ratioKeepBare, r.ratioPs,
                    static_cast<double>(r.samplerHeap) / 1024.0, r.keptFiles, r.keptKernelKB);
        std::fflush(stdout);
    }

    // Growth between the first two levels with extra processes: cost and memory per process.
    const auto at = [&](int extra) -> const LevelResult* {
        for (std::size_t i = 0; i < extras.size(); ++i)
            if (extras[i] == extra)
                return &results[i];
        return nullptr;
    };
    const LevelResult* base = at(0);
    const LevelResult* k1 = at(1000);
    const LevelResult* k5 = at(5000);
    if (k1 && k5) {
        std::printf("linearity, cycle at +5000 / at +1000 (processes %.2fx): sampler %.2f, "
                    "keep %.2f, bare %.2f, ps %.2f\n",
                    static_cast<double>(k5->processes) / static_cast<double>(k1->processes),
                    k5->sampler / k1->sampler, k5->samplerKeep / k1->samplerKeep,
                    k5->bare / k1->bare, k5->ps / k1->ps);
    }
    if (base && k5) {
        const double perThousand = 1000.0 / static_cast<double>(k5->processes - base->processes);
        std::printf("sampler heap per 1000 processes: %.1f KB; kernel memory for kept "
                    "descriptors (keep variant) per 1000 processes: %.1f KB\n",
                    static_cast<double>(k5->samplerHeap - base->samplerHeap) / 1024.0 * perThousand,
                    static_cast<double>(k5->keptKernelKB - base->keptKernelKB) * perThousand);
    }
    return 0;
}
