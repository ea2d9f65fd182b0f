// How one sampling cycle (300 application records, the /proc snapshot, attribution) grows with
// the number of processes: this machine's own plus 0 to 5,000 idle children of the benchmark.
// The reported complexity fit and the per-process time show whether the cost is linear. The
// second argument 1: detailed, as while the panel is open.
//
//   bench_cycle_scale [--benchmark_repetitions=N]

#include "attribution.h"
#include "cycle.h"
#include "proc_sampler.h"
#include "support/idle_children.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvel;

namespace {

constexpr int applicationRecords = 300;

corvel::testing::IdleChildren pool;

// 300 records as a desktop would report them: some own one of the idle children, the rest
// name processes that are not there.
class Records final : public RunningApplications
{
public:
    explicit Records(const std::vector<pid_t>& pids)
    {
        for (int i = 0; i < applicationRecords; ++i) {
            auto app = std::make_shared<RunningApp>();
            app->processIdentifier = static_cast<std::size_t>(i) < pids.size()
                                         ? pids[static_cast<std::size_t>(i)]
                                         : 4'000'000 + i;
            app->bundleIdentifier = "org.example.App" + std::to_string(i);
            app->bundlePath = "/opt/example/App" + std::to_string(i) + ".app";
            app->localizedName = "App " + std::to_string(i);
            app->icon = std::make_shared<IconRef>(IconRef{"app" + std::to_string(i)});
            records_.push_back(std::move(app));
        }
    }
    RunningApps list() override { return {records_, {}, {}}; }

private:
    std::vector<RunningAppRef> records_;
};

void BM_Cycle(benchmark::State& state)
{
    pool.resize(static_cast<std::size_t>(state.range(0)));
    Records records(pool.pids());
    ProcSampler sampler; // the options every real run uses
    GroupCache cache;
    std::size_t rows = 0;
    runCycle(sampler, records, cache); // the first cycle also primes the CPU counters
    for (auto _ : state) {
        const Grouping result = runCycle(sampler, records, cache, state.range(1) != 0);
        rows = 0;
        for (const AppUsage& app : result.apps)
            rows += static_cast<std::size_t>(app.processCount);
        benchmark::DoNotOptimize(result);
    }
    state.SetComplexityN(static_cast<benchmark::IterationCount>(rows));
    state.counters["processes"] = static_cast<double>(rows);
    state.counters["per_process"] =
        benchmark::Counter(static_cast<double>(rows) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Cycle)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 5000, 1000), {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
