// The sampler on /proc trees the tests write, with a clock and a sleep of their own. Each
// case runs with stat files kept open between passes and without.

#include "proc_sampler.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvel;
using namespace std::string_literals;
using corvel::testing::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr long hz = 100;

struct FakeProcess
{
    int pid;
    std::string comm;
    char state = 'S';
    int ppid = 1;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    unsigned long long startTime = 0; // ticks since boot
    long long rssPages = 0;
    std::optional<std::string> cmdline; // none: no file
};

class FixtureTree
{
public:
    std::string root() const { return dir_.path().string(); }

    // Rewrites the files in place, as a running process's files change under an open handle.
    // stat's resident count lags statm's by a few pages, as the kernel's may.
    void put(const FakeProcess& p)
    {
        const std::string base = std::to_string(p.pid) + "/";
        dir_.write(base + "statm", "9999 " + std::to_string(p.rssPages) + " 10 1 0 50 0\n");
        dir_.write(base + "stat", std::to_string(p.pid) + " (" + p.comm + ") " + p.state + " " +
                                      std::to_string(p.ppid) + " 1 1 0 -1 4194304 10 0 0 0 " +
                                      std::to_string(p.utime) + " " + std::to_string(p.stime) +
                                      " 0 0 20 0 1 0 " + std::to_string(p.startTime) +
                                      " 123456 " + std::to_string(p.rssPages + 3) +
                                      " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0 "
                                      "0 0 0 0 0 0 0 0 0 0 0\n");
        if (p.cmdline)
            dir_.write(base + "cmdline", *p.cmdline);
    }
    void write(const std::string& relative, const std::string& text) { dir_.write(relative, text); }
    void removeProcess(int pid) { fs::remove_all(dir_.path() / std::to_string(pid)); }
    // Unreadable even for root: reading a directory fails.
    void makeUnreadable(const std::string& relative)
    {
        fs::remove(dir_.path() / relative);
        fs::create_directories(dir_.path() / relative);
    }

private:
    TempDir dir_;
};

class ProcSamplerFixture : public ::testing::TestWithParam<std::size_t>
{
protected:
    ProcSampler makeSampler(const std::string& root)
    {
        ProcSamplerOptions options;
        options.root = root;
        options.pageSize = 4096;
        options.ticksPerSecond = hz;
        options.firstInterval = std::chrono::milliseconds(1000);
        options.secondsSinceBoot = [this] { return clock; };
        options.sleep = [this](std::chrono::milliseconds d) {
            clock += std::chrono::duration<double>(d).count();
            if (duringFirstInterval)
                duringFirstInterval();
        };
        options.maxKeptFiles = GetParam();
        return ProcSampler(options);
    }

    static const PSRow* find(const std::vector<PSRow>& rows, int pid)
    {
        for (const PSRow& row : rows) {
            if (row.pid == pid)
                return &row;
        }
        return nullptr;
    }

    FixtureTree tree;
    double clock = 1000.0; // seconds since boot
    std::function<void()> duringFirstInterval;
};

TEST_P(ProcSamplerFixture, FirstTakeMeasuresTheIntervalItWaited)
{
    FakeProcess idle{100, "idle", 'S', 1, 500, 500, 1000, 256, "/usr/bin/idle\0--quiet\0"s};
    FakeProcess busy{200, "busy", 'R', 100, 9000, 1000, 5000, 1000, "busy\0"s};
    FakeProcess twoCores{300, "make", 'R', 1, 0, 0, 20000, 1, "make\0-j2\0"s};
    for (const auto& p : {idle, busy, twoCores})
        tree.put(p);
    duringFirstInterval = [&] {
        busy.utime += 40; // plus 10 of system time: half a processor over one second
        busy.stime += 10;
        twoCores.utime += 200;
        tree.put(busy);
        tree.put(twoCores);
    };
    ProcSampler sampler = makeSampler(tree.root());
    const std::vector<PSRow> rows = sampler.take();

    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].pid, 100);
    EXPECT_EQ(rows[0].ppid, 1);
    EXPECT_DOUBLE_EQ(rows[0].cpu, 0.0);
    EXPECT_EQ(rows[0].rssKB, 1024);
    EXPECT_EQ(rows[0].command, "/usr/bin/idle --quiet");
    EXPECT_EQ(rows[1].ppid, 100);
    EXPECT_NEAR(rows[1].cpu, 50.0, 1e-9);
    EXPECT_EQ(rows[1].rssKB, 4000);
    EXPECT_NEAR(rows[2].cpu, 200.0, 1e-9);
    EXPECT_EQ(rows[2].rssKB, 4);

    // The next take measures only what happened since this one.
    clock += 2.0;
    busy.utime += 20;
    tree.put(busy);
    const auto later = sampler.take();
    EXPECT_NEAR(find(later, 200)->cpu, 10.0, 1e-9);
    EXPECT_DOUBLE_EQ(find(later, 300)->cpu, 0.0);
}

TEST_P(ProcSamplerFixture, NamesAndCommandsAsPsShowsThem)
{
    tree.put({11, "Web Content", 'S', 1, 0, 0, 100, 1, ""s});
    tree.put({12, "a) (b", 'S', 1, 0, 0, 100, 1, ""s});
    tree.put({13, "kthreadd", 'S', 0, 0, 0, 1, 0, ""s});
    tree.put({14, "sh", 'Z', 1, 0, 0, 100, 0, ""s});
    tree.put({15, "tool", 'S', 1, 0, 0, 100, 1, "/opt/caf\xC3\xA9/tool\0\xFF\xFEx\0"s});
    tree.put({16, "\xE2\x82", 'S', 1, 0, 0, 100, 1, ""s});
    tree.put({17, "app", 'S', 1, 0, 0, 100, 1, "app\0"s});
    ProcSampler sampler = makeSampler(tree.root());
    const auto rows = sampler.take();
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(find(rows, 11)->command, "[Web Content]");
    EXPECT_EQ(find(rows, 12)->command, "[a) (b]");
    EXPECT_EQ(find(rows, 13)->ppid, 0);
    EXPECT_EQ(find(rows, 14)->command, "[sh] <defunct>");
    EXPECT_EQ(find(rows, 15)->command, "/opt/caf\xC3\xA9/tool \xEF\xBF\xBD\xEF\xBF\xBDx");
    EXPECT_EQ(find(rows, 16)->command, "[\xEF\xBF\xBD]");

    // A process that dies keeps its pid and start time; ps then shows it by name.
    clock += 2.0;
    tree.put({17, "app", 'Z', 1, 0, 0, 100, 0, ""s});
    EXPECT_EQ(find(sampler.take(), 17)->command, "[app] <defunct>");
}

TEST_P(ProcSamplerFixture, SkipsWhatIsNotAProcessOrCannotBeRead)
{
    tree.put({20, "ok", 'S', 1, 0, 0, 100, 1, "ok\0"s});
    tree.write("self/stat", "1 (x) S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    tree.write("0/stat", "0 (x) S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    tree.write("21x/stat", "21 (x) S 0 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    tree.write("uptime", "1000.00 1900.00\n");
    fs::create_directories(fs::path(tree.root()) / "22");         // vanished: no files left
    tree.put({23, "locked", 'S', 1, 0, 0, 100, 1, std::nullopt}); // cmdline, statm unreadable
    tree.makeUnreadable("23/cmdline");
    tree.makeUnreadable("23/statm");
    tree.put({24, "hidden", 'S', 1, 0, 0, 100, 1, "x\0"s});
    tree.makeUnreadable("24/stat");
    tree.write("25/stat", "garbage\n");
    tree.write("26/stat", "27 (other) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 1 1\n");
    tree.write("28/stat", "");
    tree.put({29, "nocmd", 'S', 1, 0, 0, 100, 1, std::nullopt}); // gone before its cmdline

    ProcSampler sampler = makeSampler(tree.root());
    const auto rows = sampler.take();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].pid, 20);
    EXPECT_EQ(rows[1].pid, 23);
    EXPECT_EQ(rows[1].command, "[locked]");
    EXPECT_EQ(rows[1].rssKB, 16); // stat's count then
}

TEST_P(ProcSamplerFixture, ProcessesThatComeAndGo)
{
    tree.put({30, "stays", 'S', 1, 0, 0, 100, 1, "stays\0"s});
    tree.put({31, "leaves", 'S', 1, 0, 0, 100, 1, "leaves\0"s});
    tree.put({32, "later", 'S', 1, 0, 0, 100, 1, "later\0"s});
    duringFirstInterval = [&] {
        tree.removeProcess(31);
        // Born half a second into the interval, busy a whole processor since.
        tree.put({33, "newborn", 'R', 30, 50, 0, 100050, 1, "newborn\0"s});
    };
    clock = 1000.0;
    ProcSampler sampler = makeSampler(tree.root());
    auto rows = sampler.take();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].pid, 30);
    EXPECT_EQ(rows[1].pid, 32);
    EXPECT_EQ(rows[2].pid, 33);
    EXPECT_NEAR(rows[2].cpu, 100.0, 1e-9);

    clock += 2.0;
    tree.removeProcess(32);
    tree.removeProcess(30);
    rows = sampler.take();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].pid, 33);
    EXPECT_DOUBLE_EQ(rows[0].cpu, 0.0);
    EXPECT_LE(sampler.keptFiles(), 2u); // stat and statm of the one left
}

TEST_P(ProcSamplerFixture, ReusedPidStartsAfresh)
{
    tree.put({40, "old", 'R', 1, 90000, 0, 100, 1, "old --job\0"s});
    ProcSampler sampler = makeSampler(tree.root());
    EXPECT_EQ(sampler.take().at(0).command, "old --job");

    // Another process under the same pid, started 0.5 s ago and busy a quarter of a processor
    // since; its counters are lower than the old ones were.
    clock += 2.0;
    const auto start = static_cast<unsigned long long>((clock - 0.5) * hz);
    tree.put({40, "new", 'S', 7, 10, 2, start, 1, "new\0"s});
    const auto rows = sampler.take();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ppid, 7);
    EXPECT_NEAR(rows[0].cpu, 24.0, 1e-9);
    EXPECT_EQ(rows[0].command, "new");

    // Same pid and start, but a new name and command line: it ran exec.
    clock += 2.0;
    tree.put({40, "python3", 'S', 7, 110, 2, start, 1, "python3\0-m\0http.server\0"s});
    const auto afterExec = sampler.take();
    EXPECT_EQ(afterExec.at(0).command, "python3 -m http.server");
    EXPECT_NEAR(afterExec[0].cpu, 50.0, 1e-9);
}

TEST_P(ProcSamplerFixture, ExactSizeIsReadAgainOnlyWhenTheProcessRanOrGrew)
{
    FakeProcess p{90, "p", 'S', 1, 10, 0, 100, 100, "p\0"s};
    tree.put(p);
    ProcSampler sampler = makeSampler(tree.root());
    EXPECT_EQ(sampler.take().at(0).rssKB, 400);
    // The exact count moved by less than stat's batching shows, and the process never ran.
    tree.write("90/statm", "9999 101 10 1 0 50 0\n");
    clock += 2.0;
    EXPECT_EQ(sampler.take().at(0).rssKB, 400);
    p.utime += 1;
    tree.put(p); // writes statm with 100 pages again
    tree.write("90/statm", "9999 102 10 1 0 50 0\n");
    clock += 2.0;
    EXPECT_EQ(sampler.take().at(0).rssKB, 408);
}

TEST_P(ProcSamplerFixture, YoungProcessTitleIsReadAgainOnce)
{
    tree.put({50, "worker", 'S', 1, 0, 0, 100050, 1, "parent --serve\0"s}); // half a second old
    ProcSampler sampler = makeSampler(tree.root());
    sampler.take();
    clock += 2.0;
    tree.put({50, "worker", 'S', 1, 0, 0, 100050, 1, "worker: idle\0"s});
    EXPECT_EQ(sampler.take().at(0).command, "worker: idle");
}

TEST_P(ProcSamplerFixture, StaysWithinTheDescriptorBudget)
{
    for (int pid = 60; pid < 70; ++pid)
        tree.put({pid, "p", 'S', 1, 0, 0, 100, 1, "p\0"s});
    ProcSampler sampler = makeSampler(tree.root());
    EXPECT_EQ(sampler.take().size(), 10u);
    EXPECT_EQ(sampler.keptFiles(), std::min<std::size_t>(GetParam(), 20));
    clock += 2.0;
    EXPECT_EQ(sampler.take().size(), 10u);
}

TEST_P(ProcSamplerFixture, MissingRootGivesNothingUntilItAppears)
{
    const std::string root = tree.root() + "/later";
    ProcSampler sampler = makeSampler(root);
    EXPECT_TRUE(sampler.take().empty());
    FakeProcess p{80, "p", 'S', 1, 0, 0, 100, 1, "p\0"s};
    tree.put(p);
    fs::rename(fs::path(tree.root()) / "80", fs::path(tree.root()) / "80x");
    fs::create_directories(root);
    fs::rename(fs::path(tree.root()) / "80x", fs::path(root) / "80");
    clock += 2.0;
    EXPECT_EQ(sampler.take().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(KeptOpenAndNot, ProcSamplerFixture, ::testing::Values(0, 3, 1000),
                         [](const auto& test) { return "keep" + std::to_string(test.param); });

} // namespace
