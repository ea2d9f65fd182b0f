#include "proc_sampler.h"

#include "proc_parse.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace corvel {
namespace {

// As much of a command line as ps shows.
constexpr std::size_t maxCmdlineBytes = 128 * 1024;
// A command line read this soon after the start is read once more on the next pass: a
// process that sets its own title does so right after it starts.
constexpr double youngSeconds = 1.0;

std::size_t quarterOfFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const rlim_t soft = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur;
    return static_cast<std::size_t>(soft / 4);
}

} // namespace

ProcSampler::ProcSampler(ProcSamplerOptions options)
    : options_(std::move(options)), dir_(options_.root)
{
    pageBytes_ = options_.pageSize > 0 ? options_.pageSize : ::sysconf(_SC_PAGESIZE);
    const long hz = options_.ticksPerSecond > 0 ? options_.ticksPerSecond : ::sysconf(_SC_CLK_TCK);
    ticksPerSecond_ = hz > 0 ? static_cast<double>(hz) : 100.0;
    keepBudget_ = std::min(options_.maxKeptFiles, quarterOfFileLimit());
}

std::vector<PSRow> ProcSampler::take()
{
    if (!primed_) {
        sample(nullptr);
        primed_ = true;
        if (options_.sleep)
            options_.sleep(options_.firstInterval);
        else
            std::this_thread::sleep_for(options_.firstInterval);
    }
    std::vector<PSRow> rows;
    sample(&rows);
    return rows;
}

double ProcSampler::now() const
{
    if (options_.secondsSinceBoot)
        return options_.secondsSinceBoot();
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void ProcSampler::sample(std::vector<PSRow>* rows)
{
    dir_.listPids(pids_);
    next_.clear();
    next_.reserve(pids_.size());
    if (rows)
        rows->reserve(pids_.size());

    // Both lists ascend by pid, so one walk pairs each process with its previous reading.
    auto old = entries_.begin();
    char buffer[4096];
    for (const std::int32_t pid : pids_) {
        while (old != entries_.end() && old->pid < pid)
            ++old;
        Entry entry;
        const bool known = old != entries_.end() && old->pid == pid;
        if (known)
            entry = std::move(*old++);
        else
            entry.pid = pid;

        const ssize_t length = readKept(pid, entry.stat, "stat", buffer, sizeof buffer);
        if (length <= 0)
            continue; // gone, or not ours to read
        const auto stat = parseProcStat(std::string_view(buffer, static_cast<std::size_t>(length)));
        if (!stat || stat->pid != pid)
            continue;
        const double at = now();
        const std::uint64_t ticks = stat->utime + stat->stime;

        double cpu = 0;
        std::uint64_t previousTicks = 0;
        if (known && entry.startTime == stat->startTime) {
            previousTicks = entry.cpuTicks;
            const double elapsed = (at - entry.readAt) * ticksPerSecond_;
            if (elapsed > 0 && ticks > entry.cpuTicks)
                cpu = static_cast<double>(ticks - entry.cpuTicks) / elapsed * 100.0;
        } else {
            // New to us: born since the last pass, or a reused pid. Measured from its start.
            const double age = at * ticksPerSecond_ - static_cast<double>(stat->startTime);
            cpu = static_cast<double>(ticks) / std::max(age, 1.0) * 100.0;
            entry.commandRead = false;
            entry.recheckCommand = false;
            entry.rssRead = false;
        }

        // An exec keeps pid and start time, but renames the process or at least moves its
        // stack; a zombie is shown as ps shows it.
        const bool zombie = stat->state == 'Z';
        if (entry.comm != stat->comm || entry.zombie != zombie ||
            entry.startStack != stat->startStack) {
            entry.comm.assign(stat->comm);
            entry.startStack = stat->startStack;
            entry.zombie = zombie;
            entry.commandRead = false;
        }
        entry.startTime = stat->startTime;
        entry.cpuTicks = ticks;
        entry.readAt = at;

        if (rows) {
            // statm's count is exact where stat's lags by the kernel's per-CPU batches, and
            // ps shows the exact one. It is read again only when the process ran or stat's
            // count moved: most processes are idle, and this halves what they cost.
            if (!entry.rssRead || ticks != previousTicks || stat->rssPages != entry.statRss) {
                const ssize_t n = readKept(pid, entry.statm, "statm", buffer, sizeof buffer);
                if (n < 0 && (errno == ENOENT || errno == ESRCH))
                    continue;
                const auto resident =
                    n > 0 ? parseStatmResident(std::string_view(buffer, static_cast<std::size_t>(n)))
                          : std::nullopt;
                entry.rssPages = resident.value_or(stat->rssPages);
                entry.statRss = stat->rssPages;
                entry.rssRead = true;
            }
            if (!entry.commandRead || entry.recheckCommand) {
                const double age = at - static_cast<double>(stat->startTime) / ticksPerSecond_;
                if (!readCommand(entry, stat->state, age < youngSeconds))
                    continue;
            }
            rows->push_back(PSRow{pid, stat->ppid, cpu, entry.rssPages * pageBytes_ / 1024,
                                  entry.command});
        }
        next_.push_back(std::move(entry));
    }
    entries_.swap(next_);
    next_.clear(); // closes what processes no longer listed held

    keptFiles_ = 0;
    for (const Entry& e : entries_)
        keptFiles_ += (e.stat.valid() ? 1 : 0) + (e.statm.valid() ? 1 : 0);
    shedKeptFiles(entries_);
}

ssize_t ProcSampler::readKept(std::int32_t pid, UniqueFd& kept, const char* name, char* buffer,
                              std::size_t size)
{
    if (kept.valid()) {
        const ssize_t n = readFromStart(kept.get(), buffer, size);
        if (n > 0)
            return n;
        // ESRCH: that process is gone, though its pid may already name another.
        kept.reset();
        --keptFiles_;
    }
    UniqueFd fd = dir_.open(pid, name);
    if (!fd.valid() && (errno == EMFILE || errno == ENFILE)) {
        // Out of descriptors: hold half as many from now on, and try once more.
        keepBudget_ = keptFiles_ / 2;
        shedKeptFiles(next_);
        fd = dir_.open(pid, name);
    }
    if (!fd.valid())
        return -1;
    const ssize_t n = readFromStart(fd.get(), buffer, size);
    if (n > 0 && keptFiles_ < keepBudget_) {
        kept = std::move(fd);
        ++keptFiles_;
    }
    return n;
}

bool ProcSampler::readCommand(Entry& entry, char state, bool young)
{
    UniqueFd fd = dir_.open(entry.pid, "cmdline");
    if (!fd.valid() || !readAll(fd.get(), cmdline_, maxCmdlineBytes)) {
        if (errno == ENOENT || errno == ESRCH)
            return false;
        cmdline_.clear(); // not ours to read: shown by name, as ps does
    }
    entry.recheckCommand = !entry.commandRead && young;
    entry.commandRead = true;
    entry.command = processCommand(cmdline_, entry.comm, state);
    return true;
}

void ProcSampler::shedKeptFiles(std::vector<Entry>& entries)
{
    for (auto it = entries.rbegin(); it != entries.rend() && keptFiles_ > keepBudget_; ++it) {
        for (UniqueFd* fd : {&it->statm, &it->stat}) {
            if (fd->valid() && keptFiles_ > keepBudget_) {
                fd->reset();
                --keptFiles_;
            }
        }
    }
}

} // namespace corvel
