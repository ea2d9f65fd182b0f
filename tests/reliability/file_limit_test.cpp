// Descriptors held for sampling stay under a fixed share of the open-file limit: with the soft
// limit lowered to 64 and two thousand processes of our own present, the monitor and the /proc
// reader still list every process, and running out of descriptors costs only kept ones.

#include "proc_sampler.h"
#include "support/idle_children.h"
#include "self_watch.h"
#include "support/temp_dir.h"
#include "watched_monitor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_THREAD__)
// Under ThreadSanitizer every read of /proc costs many times more; a few hundred processes
// still outnumber the descriptor budget many times over.
constexpr std::size_t idleCount = 250;
#else
constexpr std::size_t idleCount = 2000;
#endif
constexpr rlim_t lowLimit = 64;

class LoweredFileLimit
{
  public:
    explicit LoweredFileLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        ok_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~LoweredFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    bool ok() const { return ok_; }

  private:
    rlimit saved_{};
    bool ok_ = false;
};

int childrenIn(const std::vector<PSRow>& rows)
{
    const pid_t self = ::getpid();
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [&](const PSRow& row) { return row.ppid == self; }));
}

class FileLimit : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { children = new corvel::testing::IdleChildren(idleCount); }
    static void TearDownTestSuite() { delete children; }
    static corvel::testing::IdleChildren* children;
};
corvel::testing::IdleChildren* FileLimit::children = nullptr;

TEST_F(FileLimit, MonitorListsEveryProcessAndHoldsNoMoreDescriptors)
{
    ASSERT_EQ(children->size(), idleCount);
    TempDir dir;
    useOwnSession(dir.path());
    const LoweredFileLimit limit(lowLimit);
    ASSERT_TRUE(limit.ok());

    std::atomic<int> fewestChildren{idleCount * 2};
    std::atomic<int> mostDescriptors{0};
    WatchedMonitor watched(20ms, [&](const std::vector<PSRow>& rows, auto) {
        fewestChildren = std::min(fewestChildren.load(), childrenIn(rows));
        mostDescriptors = std::max(mostDescriptors.load(), openDescriptors());
    });
    const int baseline = openDescriptors();
    EXPECT_EQ(watched.runUntil([](int n) { return n >= 20; }, 300s), 20);
    EXPECT_EQ(watched.faultyPublications(), 0);
    for (const std::string& problem : watched.problems())
        ADD_FAILURE() << problem;
    EXPECT_GE(fewestChildren.load(), idleCount);
    EXPECT_LE(mostDescriptors.load(), baseline + static_cast<int>(lowLimit / 4));
}

TEST_F(FileLimit, KeptDescriptorsStayUnderAQuarterOfTheLimit)
{
    const LoweredFileLimit limit(lowLimit);
    ASSERT_TRUE(limit.ok());
    const int baseline = openDescriptors();
    ProcSamplerOptions options;
    options.maxKeptFiles = 1'000'000; // asks for far more than the limit allows
    options.firstInterval = 0ms;
    ProcSampler sampler(options);
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(childrenIn(sampler.take()), idleCount);
        EXPECT_LE(sampler.keptFiles(), lowLimit / 4);
        EXPECT_LE(openDescriptors(), baseline + static_cast<int>(lowLimit / 4) + 1);
    }
}

// Every descriptor under the limit taken, by the sampler's kept ones and by others of ours.
TEST_F(FileLimit, NoDescriptorLeftCostsOnlyKeptOnes)
{
    const LoweredFileLimit limit(lowLimit);
    ASSERT_TRUE(limit.ok());
    ProcSamplerOptions options;
    options.maxKeptFiles = 1'000'000;
    options.firstInterval = 0ms;
    ProcSampler sampler(options);
    ASSERT_GE(childrenIn(sampler.take()), idleCount);
    const std::size_t keptBefore = sampler.keptFiles();
    ASSERT_GT(keptBefore, 0u);
    std::vector<int> hogs;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        hogs.push_back(fd);
    ASSERT_EQ(errno, EMFILE);

    for (int i = 0; i < 3; ++i)
        EXPECT_GE(childrenIn(sampler.take()), idleCount) << "take " << i;
    EXPECT_LT(sampler.keptFiles(), keptBefore);
    for (const int fd : hogs)
        ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
