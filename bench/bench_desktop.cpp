// Per-cycle cost of the desktop layer: listing the running applications of a desktop with
// 300 application units holding 5000 processes, named by 500 desktop entries, with a process
// folder in which every process names its program (most an application's, some a shell, some
// a helper no entry names). The trees live in a scratch folder (tmpfs when /dev/shm is there,
// as cgroupfs is memory too). BM_CycleWalks measures the cgroup walks of a cycle over units
// made in the real cgroup2 hierarchy, when that is permitted, before and after they were one:
//   bench_desktop --benchmark_filter=CycleWalks --benchmark_repetitions=10
//                 --benchmark_enable_random_interleaving=true

#include "app_records.h"
#include "cgroup_activity.h"
#include "cgroup_apps.h"
#include "desktop_applications.h"
#include "process_programs.h"
#include "small_file.h"
#include "support/idle_children.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvel;
namespace fs = std::filesystem;

namespace {

constexpr int unitCount = 300;
constexpr int processCount = 5000;
constexpr int entryCount = 500;
constexpr std::uint32_t benchUid = 1000;

std::string scratchFolder()
{
    std::string pattern =
        (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
        "/corvel-bench-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

void writeFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string unitName(int i)
{
    // Every fourth unit a Flatpak scope, every tenth a service, the rest launcher scopes.
    const std::string id = "org.example.App" + std::to_string(i);
    if (i % 10 == 0)
        return "app-gnome-" + id + "@" + std::to_string(1000 + i) + ".service";
    if (i % 4 == 0)
        return "app-flatpak-" + id + "-" + std::to_string(2000 + i) + ".scope";
    return "app-gnome-" + id + "-" + std::to_string(3000 + i) + ".scope";
}

// 300 units with 5000 processes among them (some in nested sub-cgroups), session and
// background slices beside them, and 500 desktop entries in two folders.
struct Fixture
{
    std::string root = scratchFolder();

    Fixture()
    {
        const fs::path service =
            fs::path(root) / "cgroup/user.slice/user-1000.slice/user@1000.service";
        int pid = 10000;
        for (int u = 0; u < unitCount; ++u) {
            const fs::path unit = service / "app.slice" / unitName(u);
            const int here = processCount / unitCount + (u < processCount % unitCount ? 1 : 0);
            std::string top, nested;
            for (int p = 0; p < here; ++p) {
                const fs::path folder = fs::path(root) / "proc" / std::to_string(pid);
                fs::create_directories(folder);
                [[maybe_unused]] const int owned = ::chown(folder.c_str(), benchUid, benchUid);
                const std::string program = p % 50 == 1   ? "/usr/bin/bash"
                                            : p % 10 == 3 ? "/usr/lib/app/helper"
                                                          : "/usr/bin/app" + std::to_string(u);
                fs::create_symlink(program, folder / "exe");
                (p % 3 == 2 ? nested : top) += std::to_string(pid++) + "\n";
            }
            writeFile(unit / "cgroup.procs", top);
            if (!nested.empty())
                writeFile(unit / "renderer/cgroup.procs", nested);
        }
        for (const char* other :
             {"session.slice/org.gnome.Shell@x11.service", "session.slice/pipewire.service",
              "background.slice/tracker.service", "init.scope"})
            writeFile(service / other / "cgroup.procs", "1\n");
        for (int e = 0; e < entryCount; ++e) {
            const std::string id = "org.example.App" + std::to_string(e);
            writeFile(fs::path(root) / (e % 5 == 0 ? "home" : "usr") / "applications" /
                          (id + ".desktop"),
                      "[Desktop Entry]\nType=Application\nName=App " + std::to_string(e) +
                          "\nName[de]=Anwendung\nIcon=" + id + "\nExec=/usr/bin/app" +
                          std::to_string(e) + " %U\nCategories=Utility;\n");
        }
    }
    ~Fixture()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    DesktopSources sources() const
    {
        DesktopSources s;
        s.cgroupRoot = root + "/cgroup";
        s.procRoot = root + "/proc";
        s.uid = benchUid;
        s.environment.applicationFolders = {root + "/home/applications",
                                            root + "/usr/applications"};
        s.environment.locale = "de_DE.UTF-8";
        return s;
    }
};

// One cycle as the monitor runs it, entry index already built and unchanged.
void BM_ListSteady(benchmark::State& state)
{
    Fixture fixture;
    DesktopApplications apps(fixture.sources());
    // The first two cycles read every process's program (BM_ReadAllPrograms); later ones only
    // new processes.
    apps.list();
    std::size_t records = apps.list().byUnit.size();
    for (auto _ : state)
        benchmark::DoNotOptimize(records = apps.list().byUnit.size());
    state.counters["processes"] = static_cast<double>(records);
}
BENCHMARK(BM_ListSteady)->Unit(benchmark::kMillisecond);

// The same with the folder check due every cycle (the index checks at most every 5 s).
void BM_ListCheckingEntriesEveryCycle(benchmark::State& state)
{
    Fixture fixture;
    DesktopSources sources = fixture.sources();
    sources.indexTiming.checkEvery = {};
    DesktopApplications apps(std::move(sources));
    apps.list();
    apps.list();
    for (auto _ : state)
        benchmark::DoNotOptimize(apps.list().byUnit.size());
}
BENCHMARK(BM_ListCheckingEntriesEveryCycle)->Unit(benchmark::kMillisecond);

// Reading the units alone: folder walk and cgroup.procs.
void BM_ScanUnits(benchmark::State& state)
{
    Fixture fixture;
    CgroupApps cgroups(fixture.root + "/cgroup", fixture.root + "/proc", benchUid);
    for (auto _ : state)
        benchmark::DoNotOptimize(cgroups.scan(CgroupApps::Clock::now()).size());
}
BENCHMARK(BM_ScanUnits)->Unit(benchmark::kMillisecond);

// Making the applications and their process maps alone.
void BM_MakeRecords(benchmark::State& state)
{
    Fixture fixture;
    CgroupApps cgroups(fixture.root + "/cgroup", fixture.root + "/proc", benchUid);
    EntryIndex index({fixture.root + "/home/applications", fixture.root + "/usr/applications"},
                     true, "C", {});
    index.refresh(EntryIndex::Clock::now());
    AppSightings seen;
    seen.units = cgroups.scan(CgroupApps::Clock::now());
    seen.applications = &index.table();
    for (auto _ : state)
        benchmark::DoNotOptimize(runningApps(seen).byUnit.size());
}
BENCHMARK(BM_MakeRecords)->Unit(benchmark::kMillisecond);

// Reading every process's program, as the first cycle does (later cycles read only new ones).
void BM_ReadAllPrograms(benchmark::State& state)
{
    Fixture fixture;
    for (auto _ : state) {
        ProcessPrograms programs(fixture.root + "/proc", benchUid);
        programs.refresh({}, true);
        benchmark::DoNotOptimize(programs.programs().size());
    }
}
BENCHMARK(BM_ReadAllPrograms)->Unit(benchmark::kMillisecond);

// The programs again in a cycle that lists every process: new or due processes are read.
void BM_RefreshPrograms(benchmark::State& state)
{
    Fixture fixture;
    ProcessPrograms programs(fixture.root + "/proc", benchUid);
    programs.refresh({}, true);
    for (auto _ : state) {
        programs.refresh({}, true);
        benchmark::DoNotOptimize(programs.programs().size());
    }
}
BENCHMARK(BM_RefreshPrograms)->Unit(benchmark::kMillisecond);

// A full read of 500 desktop entries: what a folder change (or the one-minute refresh) costs.
void BM_RebuildEntryIndex(benchmark::State& state)
{
    Fixture fixture;
    for (auto _ : state) {
        EntryIndex index({fixture.root + "/home/applications", fixture.root + "/usr/applications"},
                         true, "de_DE.UTF-8", {});
        index.refresh(EntryIndex::Clock::now());
        benchmark::DoNotOptimize(index.table().size());
    }
}
BENCHMARK(BM_RebuildEntryIndex)->Unit(benchmark::kMillisecond);

// 50 application units (every fifth with a sub-cgroup) of a user service in the real cgroup2
// hierarchy, for a uid no one has, each holding an idle child of ours (root; removed after).
struct RealUnits
{
    std::string mount =
        cgroup2MountPoint(readSmallFile("/proc/self/mountinfo", 1 << 20).value_or("")).value_or("");
    std::uint32_t uid = 1'900'000'000u + static_cast<std::uint32_t>(::getpid());
    std::vector<fs::path> made; // deepest first
    corvel::testing::IdleChildren children;

    RealUnits()
    {
        if (mount.empty() || ::geteuid() != 0)
            return;
        const std::string u = std::to_string(uid);
        for (int i = 0; i < 50; ++i) {
            fs::path folder = mount;
            const fs::path group = "user.slice/user-" + u + ".slice/user@" + u +
                                   ".service/app.slice/" + unitName(i) + (i % 5 ? "" : "/gpu");
            for (const auto& part : group)
                if (fs::create_directory(folder /= part))
                    made.insert(made.begin(), folder);
            children.resize(children.pids().size() + 1);
            std::ofstream(folder / "cgroup.procs") << children.pids().back() << std::endl;
        }
    }
    ~RealUnits()
    {
        children.resize(0);
        for (const fs::path& folder : made) // emptied a moment after its processes are reaped
            for (int tries = 0; ::rmdir(folder.c_str()) != 0 && errno == EBUSY && tries < 500;
                 ++tries)
                ::usleep(10'000);
    }
};

// The cgroup walks of a cycle at rest: the sampler's pruned walk, then the units read again
// from the tree (shared 0, as before) or taken from the sampler's walk (shared 1).
void BM_CycleWalks(benchmark::State& state)
{
    RealUnits units;
    if (units.made.empty()) {
        state.SkipWithError("needs root and cgroup2 to make units");
        return;
    }
    CgroupActivity walk(units.mount);
    CgroupApps cgroups(units.mount, "/proc", units.uid);
    const bool shared = state.range(0) != 0;
    std::size_t found = 0;
    for (auto _ : state) {
        walk.update();
        found = cgroups.scan(CgroupApps::Clock::now(), shared ? &walk : nullptr).size();
    }
    state.counters["units"] = static_cast<double>(found);
    state.counters["cgroups read"] = static_cast<double>(walk.cgroupsRead());
}
BENCHMARK(BM_CycleWalks)->ArgName("shared")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
