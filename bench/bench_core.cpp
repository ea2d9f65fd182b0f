// Throughput of the pure core: parsing the tool's text and grouping rows into applications.

#include "attribution.h"
#include "snapshot.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

using namespace corvel;

namespace {

// Output shaped like a real desktop's: right-aligned numbers, paths with arguments.
std::string generatedOutput(int lines)
{
    std::mt19937 random(42);
    std::string out;
    const char* commands[] = {
        "/usr/lib/firefox/firefox -contentproc -childID 12 -isForBrowser", "/usr/bin/gnome-shell",
        "[kworker/u8:2-events_unbound]", "/usr/libexec/gvfsd-metadata",
        "/opt/app/bin/app --type=renderer --lang=en-US --num-raster-threads=4"};
    for (int i = 0; i < lines; ++i) {
        char line[256];
        const int n = std::snprintf(line, sizeof line, "%7d %7d %4.1f %8d %s\n", 1000 + i,
                                    1 + static_cast<int>(random() % 1000),
                                    static_cast<double>(random() % 1000) / 10.0,
                                    static_cast<int>(random() % 900000), commands[random() % 5]);
        out.append(line, static_cast<std::size_t>(n));
    }
    return out;
}

void BM_ParsePS(benchmark::State& state)
{
    const std::string output = generatedOutput(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parsePS(output));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * output.size()));
}
BENCHMARK(BM_ParsePS)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A process tree: each application has a main process and a few layers of helpers below it;
// a third of the processes belong to no application.
struct Table
{
    std::vector<PSRow> rows;
    AppsByPID byPID;
};

Table generatedTable(int rows, int apps)
{
    std::mt19937 random(7);
    Table t;
    t.rows.reserve(static_cast<std::size_t>(rows));
    for (int a = 0; a < apps; ++a) {
        const std::int32_t pid = 2000 + a;
        t.rows.push_back(PSRow{pid, 1, 1.0, 50000, "/usr/bin/app" + std::to_string(a)});
        t.byPID[pid] = std::make_shared<const RunningApp>(
            RunningApp{.processIdentifier = pid,
                       .bundleIdentifier = "org.example.App" + std::to_string(a % (apps - 1)),
                       .localizedName = "App " + std::to_string(a)});
    }
    std::int32_t next = 100000;
    while (static_cast<int>(t.rows.size()) < rows) {
        const bool system = random() % 3 == 0;
        // Parent: an application, or one of the recent processes (deeper trees).
        const std::int32_t parent =
            system ? 1
                   : (random() % 2 ? 2000 + static_cast<std::int32_t>(random() % apps)
                                   : t.rows[t.rows.size() - 1 -
                                            random() % std::min<std::size_t>(t.rows.size(), 20)]
                                         .pid);
        t.rows.push_back(PSRow{next++, parent, 0.1, 1000, "/usr/lib/helper --type=x"});
    }
    return t;
}

void BM_Group(benchmark::State& state)
{
    const Table t =
        generatedTable(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const AppsByPath noBundles;
    for (auto _ : state)
        benchmark::DoNotOptimize(group(t.rows, t.byPID, noBundles));
    // Seconds per row, shown by the library in the unit that fits (ns).
    state.counters["per_row"] =
        benchmark::Counter(static_cast<double>(state.iterations() * t.rows.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Group)
    ->Args({1000, 50})
    ->Args({1000, 500})
    ->Args({10000, 50})
    ->Args({10000, 500})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
