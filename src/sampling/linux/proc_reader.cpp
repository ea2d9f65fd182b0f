#include "proc_reader.h"

#include "proc_parse.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace corvel {
namespace {

// As much of a command line as ps shows.
constexpr std::size_t maxCmdlineBytes = 128 * 1024;
// A command line read this soon after the start is read once more on the next pass: a
// process that sets its own title does so right after it starts.
constexpr double youngSeconds = 1.0;

bool gone(int error)
{
    return error == ENOENT || error == ESRCH;
}

} // namespace

ProcReader::ProcReader(ProcSamplerOptions options)
    : options_(std::move(options)), dir_(options_.root), mountWatch_(options_.root),
      mounts_(readMountFacts(options_.root, options_.cgroupRoot)),
      activity_(std::in_place, mounts_.cgroupRoot),
      keptFiles_(keptFileLimit(options_.root, options_.keptFiles)),
      memoryPace_(options_.memoryRefresh, options_.calmMemoryRefresh)
{
    pageBytes_ = options_.pageSize > 0 ? options_.pageSize : ::sysconf(_SC_PAGESIZE);
    const long hz = options_.ticksPerSecond > 0 ? options_.ticksPerSecond : ::sysconf(_SC_CLK_TCK);
    ticksPerSecond_ = hz > 0 ? static_cast<double>(hz) : 100.0;
}

double ProcReader::now() const
{
    if (options_.secondsSinceBoot)
        return options_.secondsSinceBoot();
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::optional<double> ProcReader::machineShare() const
{
    if (!hidden_ || !machine_ || !previousMachine_ || machine_->total <= previousMachine_->total ||
        machine_->busy < previousMachine_->busy)
        return std::nullopt;
    const double busy = static_cast<double>(machine_->busy - previousMachine_->busy);
    return std::min(100.0,
                    busy * 100.0 / static_cast<double>(machine_->total - previousMachine_->total));
}

bool ProcReader::readRootFile(const char* name)
{
    const UniqueFd fd(::open((options_.root + name).c_str(), O_RDONLY | O_CLOEXEC));
    return fd.valid() && readAll(fd.get(), text_, 1 << 20);
}

void ProcReader::readMachine()
{
    previousMachine_ = machine_;
    machine_.reset();
    if (readRootFile("/stat"))
        machine_ = parseMachineTicks(text_);
}

std::optional<std::uint64_t> ProcReader::readReclaimEvents()
{
    return readRootFile("/vmstat") ? parseReclaimEvents(text_) : std::nullopt;
}

void ProcReader::watchMounts()
{
    if (!mountWatch_.changed())
        return;
    MountFacts facts = readMountFacts(options_.root, options_.cgroupRoot);
    if (facts.cgroupRoot != mounts_.cgroupRoot)
        activity_.emplace(facts.cgroupRoot);
    mounts_ = std::move(facts);
}

void ProcReader::read(std::vector<ProcessCounters>& out)
{
    const double cycleStart = now();
    watchMounts();
    // The machine's thread count before the walk and after the reads, see listPids().
    const std::uint64_t threadsBefore = mounts_.wholeTree ? readThreadCount() : 0;
    const bool pruning = pruning_ = activity_->update();
    readMachine();
    // Only idle processes need to know about reclaim; with none last time the first ones are
    // read at the faster pace.
    memoryPace_.update(cycleStart, pruning && unread_ > 0 ? readReclaimEvents() : std::nullopt);
    hidden_ = mounts_.hidden;
    unread_ = 0;
    settle(pruning, cycleStart);
    const bool listed = listPids(pruning);
    out.clear();
    out.reserve(pids_.size());
    next_.clear();
    next_.reserve(pids_.size());
    std::uint64_t threads = 0;
    for (const auto& [key, group] : groups_)
        threads += static_cast<std::uint64_t>(group.threads);
    // Both lists ascend by pid: the entries of processes still there are carried over.
    auto old = entries_.begin();
    char buffer[4096];
    ended_.clear();
    for (const std::int32_t pid : pids_) {
        for (; old != entries_.end() && old->pid < pid; ++old)
            ended_.push_back(old->pid);
        const bool known = old != entries_.end() && old->pid == pid;
        Entry entry = known ? std::move(*old++) : Entry{};
        entry.pid = pid;
        const bool zombie = entry.zombie;
        double at = cycleStart;
        if (!sample(entry, known, pruning, at, buffer, sizeof buffer)) {
            ended_.push_back(pid);
            continue;
        }
        if ((known && entry.fresh) || entry.zombie != zombie)
            ended_.push_back(pid);
        out.push_back(counters(entry, at));
        threads += static_cast<std::uint64_t>(entry.threads);
        next_.push_back(std::move(entry));
    }
    for (; old != entries_.end(); ++old)
        ended_.push_back(old->pid);
    entries_.swap(next_);
    next_.clear();
    confirmParents(out, threads, buffer, sizeof buffer);
    confirmParentsAside(buffer, sizeof buffer);
    previousStart_ = cycleStart;
    const bool settled = pruning && threadsBefore > 0 && readThreadCount() == threadsBefore;
    const bool proven = settled && threadsBefore == threads;
    failed_ = settled && !proven;
    unprovenReads_ = proven ? 0 : unprovenReads_ + 1;
    provenSinceListing_ = (provenSinceListing_ && !listed) || proven;
}

void ProcReader::settle(bool pruning, double at)
{
    resumed_.clear();
    back_.clear();
    // Idle at the last read and still: put aside with the other processes of their cgroup.
    if (pruning) {
        std::size_t kept = 0;
        for (Entry& entry : entries_) {
            const std::uint64_t group = entry.idle ? activity_->groupOf(entry.pid) : 0;
            if (group && activity_->stillIdle(group)) {
                Group& aside = groups_[group];
                aside.threads += entry.threads;
                groupOf_[entry.pid] = group;
                aside.entries.push_back(std::move(entry));
                aside.rows.reset();
            } else if (&entries_[kept++] != &entry) {
                entries_[kept - 1] = std::move(entry);
            }
        }
        entries_.resize(kept);
    }
    // A process listed now in a cgroup that moved has left its group (moved without running).
    for (const std::int32_t pid : activity_->listedNow())
        if (const auto it = groupOf_.find(pid); it != groupOf_.end())
            groups_[it->second].left = true;
    // Groups whose cgroup moved, went or lost a process come back to be read.
    for (auto it = groups_.begin(); it != groups_.end();) {
        Group& group = it->second;
        if (pruning && !group.left && activity_->stillIdle(it->first)) {
            unread_ += group.entries.size();
            if (!group.rows)
                makeRows(group);
            ++it;
            continue;
        }
        for (Entry& entry : group.entries) {
            groupOf_.erase(entry.pid);
            resumed_.push_back(ProcessCounters{
                entry.pid, entry.ppid, entry.startTime, entry.cpuTicks, 0, previousStart_, {}});
            back_.push_back(std::move(entry));
        }
        it = groups_.erase(it);
    }
    refreshAside(at);
    if (back_.empty())
        return;
    const auto byPid = [](const auto& a, const auto& b) { return a.pid < b.pid; };
    std::sort(back_.begin(), back_.end(), byPid);
    std::sort(resumed_.begin(), resumed_.end(), byPid);
    next_.clear();
    std::merge(std::make_move_iterator(entries_.begin()), std::make_move_iterator(entries_.end()),
               std::make_move_iterator(back_.begin()), std::make_move_iterator(back_.end()),
               std::back_inserter(next_), byPid);
    entries_.swap(next_);
    next_.clear();
    back_.clear();
}

void ProcReader::refreshAside(double at)
{
    // The resident sizes of the processes put aside, in turn, a few at each read: as many as
    // read each one again within the pace's period, at the calm pace no more than the cap. A
    // size that moved makes the group's rows anew; a process that went brings its group back
    // at the next read.
    const double elapsed = previousStart_ > 0 ? at - previousStart_ : 0;
    const auto aside = static_cast<double>(unread_);
    const double due = aside * elapsed / memoryPace_.period();
    const auto cap = static_cast<double>(options_.calmRefreshesPerRead);
    refreshCredit_ =
        std::min(refreshCredit_ + (memoryPace_.calm() ? std::min(due, cap) : due), aside);
    char buffer[256];
    auto group = groups_.lower_bound(refreshAt_.first);
    while (refreshCredit_ > 0 && !groups_.empty()) {
        if (group == groups_.end())
            group = groups_.begin();
        std::vector<Entry>& entries = group->second.entries;
        const std::int32_t after = group->first == refreshAt_.first ? refreshAt_.second : 0;
        const auto entry =
            std::upper_bound(entries.begin(), entries.end(), after,
                             [](std::int32_t pid, const Entry& e) { return pid < e.pid; });
        if (entry == entries.end()) {
            refreshAt_ = {(++group == groups_.end() ? groups_.begin() : group)->first, 0};
            continue;
        }
        refreshCredit_ -= 1;
        refreshAt_ = {group->first, entry->pid};
        const std::int64_t before = entry->rssPages;
        if (!readResident(*entry, before, buffer, sizeof buffer))
            group->second.left = true;
        else if (entry->rssPages != before)
            makeRows(group->second);
    }
}

void ProcReader::makeRows(Group& group) const
{
    std::sort(group.entries.begin(), group.entries.end(),
              [](const Entry& a, const Entry& b) { return a.pid < b.pid; });
    auto rows = std::make_shared<std::vector<PSRow>>();
    rows->reserve(group.entries.size());
    group.parents.clear();
    for (const Entry& e : group.entries) {
        rows->push_back(PSRow{e.pid, e.ppid, 0.0, e.rssPages * pageBytes_ / 1024, e.command});
        group.parents.push_back(e.ppid);
    }
    std::sort(group.parents.begin(), group.parents.end());
    group.parents.erase(std::unique(group.parents.begin(), group.parents.end()),
                        group.parents.end());
    group.rows = std::move(rows);
}

std::vector<RowPart> ProcReader::idleParts() const
{
    std::vector<RowPart> parts;
    parts.reserve(groups_.size());
    for (const auto& [key, group] : groups_)
        parts.push_back(RowPart{key, group.rows});
    return parts;
}

std::uint64_t ProcReader::readThreadCount()
{
    if (!loadavg_.valid())
        loadavg_ = UniqueFd(::open((options_.root + "/loadavg").c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[128];
    const ssize_t n = loadavg_.valid() ? readFromStart(loadavg_.get(), buffer, sizeof buffer) : -1;
    const std::string_view text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    lastPid_ = parseLastPid(text);
    return parseThreadCount(text).value_or(0);
}

bool ProcReader::listPids(bool pruning)
{
    // Listing /proc costs about as much per process as reading a small file. Where the tree
    // holds every process its member lists stand in for it, together with the processes we
    // knew (their stat tells an exit). A process that starts and dies between two walks is in
    // no list while a zombie (it holds no memory and runs no more). The machine's thread
    // count tells whether one is missing: when it stood still from before the walk to after
    // the reads, it equals the threads of the processes read and put aside (those put aside
    // did not run, so theirs stand) unless one is. A process missing at the last read is
    // looked for now. While the count does not come out (processes we may not read, other PID
    // namespaces) or stays unknown (threads come and go while we read), the listing every
    // fifteenth time (30 s) catches it.
    ++listedAgo_;
    const bool missing =
        (failed_ && provenSinceListing_) || std::min(unprovenReads_, listedAgo_) >= 15;
    const bool members = pruning && mounts_.wholeTree && activity_->membersComplete();
    // What may be missing was born since the last listing: the kernel hands out pids upward,
    // so where /proc can be listed from a pid on, the processes above the last pid handed out
    // before that listing are enough. Pids that wrapped around list them all.
    const bool above = members && missing && lastPid_ && listedFrom_ && *lastPid_ >= *listedFrom_ &&
                       dir_.listPidsAbove(*listedFrom_, born_);
    if (members && (!missing || above)) {
        // Births are in the cgroups the walk read; the processes put aside are not read.
        const std::vector<std::int32_t>& listed = activity_->listedNow();
        pids_.clear();
        auto member = listed.begin();
        for (const Entry& entry : entries_) {
            for (; member != listed.end() && *member < entry.pid; ++member)
                pids_.push_back(*member);
            member += member != listed.end() && *member == entry.pid ? 1 : 0;
            pids_.push_back(entry.pid);
        }
        pids_.insert(pids_.end(), member, listed.end());
        pids_.erase(std::unique(pids_.begin(), pids_.end()), pids_.end()); // listed twice
        if (!above)
            return false;
        std::erase_if(born_, [this](std::int32_t pid) { return groupOf_.contains(pid); });
        const std::size_t known = pids_.size();
        pids_.insert(pids_.end(), born_.begin(), born_.end());
        std::inplace_merge(pids_.begin(), pids_.begin() + static_cast<std::ptrdiff_t>(known),
                           pids_.end());
    } else {
        dir_.listPids(pids_);
        std::erase_if(pids_, [this](std::int32_t pid) { return groupOf_.contains(pid); });
    }
    pids_.erase(std::unique(pids_.begin(), pids_.end()), pids_.end());
    listedFrom_ = lastPid_;
    listedAgo_ = 0;
    return true;
}

ProcessCounters ProcReader::counters(const Entry& entry, double at) const
{
    return ProcessCounters{entry.pid,
                           entry.ppid,
                           entry.startTime,
                           entry.cpuTicks,
                           entry.rssPages * pageBytes_ / 1024,
                           at,
                           entry.command};
}

bool ProcReader::sample(Entry& entry, bool known, bool pruning, double& at, char* buffer,
                        std::size_t size)
{
    entry.idle = known && pruning && activity_->idle(entry.pid);
    entry.fresh = false;
    const std::optional<bool> still =
        entry.idle || !known || !pruning ? std::nullopt : stoodStill(entry, buffer, size);
    entry.still = still.value_or(false);
    if (!entry.idle && !entry.still) {
        if (!readStat(entry, known, buffer, size))
            return false;
        if (still) // its counters moved: it runs, and the next read goes to its stat at once
            entry.quiet = false;
        at = now();
        return true;
    }
    // It did not run: the same counters, and now and then a fresh resident size.
    if (entry.still)
        at = now();
    if (memoryPace_.due(entry.pid, entry.memoryAt, at) &&
        !readResident(entry, entry.rssPages, buffer, size))
        return false;
    if (entry.idle)
        entry.file.close(); // put aside at the next read
    ++unread_;
    return true;
}

std::optional<bool> ProcReader::stoodStill(Entry& entry, char* buffer, std::size_t size)
{
    // A process whose last reading showed no run, with one thread (the one these counters
    // follow) that is no zombie. Any change to what it shows takes a run of that thread (an
    // exec, an exit, a new thread, its name, its time) but its memory, read at its pace as
    // for idle cgroups, and its parent, whose end makes it another's child: see
    // confirmParents(). A pid taken over meanwhile reads as gone from a kept file, and as a
    // process whose counters differ to the nanosecond from a file opened anew.
    if (!entry.quiet || entry.threads != 1 || entry.zombie || !countersShown_)
        return std::nullopt;
    const ssize_t n = keptFiles_.read(dir_, entry.pid, "schedstat", entry.file, buffer, size);
    const std::string_view text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    const auto counted = parseSchedulerCounters(text);
    // Zeros from a process that used time: this kernel keeps no such counters. One that has
    // not run yet shows zeros too.
    countersShown_ = counted || !text.starts_with("0 0 0") || entry.cpuTicks == 0;
    if (counted && counted == entry.scheduled)
        return true;
    const bool compared = entry.scheduled.has_value();
    entry.scheduled = counted; // before the stat read that follows
    return compared ? std::optional(false) : std::nullopt;
}

void ProcReader::confirmParents(std::vector<ProcessCounters>& out, std::uint64_t& threads,
                                char* buffer, std::size_t size)
{
    // A parent ends without its children running: they become another's, and their stat
    // says so. Those whose stat was not read keep their parent only while it is the process
    // it was: still read, or put aside, at its pid.
    const auto stays = [this](std::int32_t pid) {
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), pid,
                                         [](const Entry& e, std::int32_t p) { return e.pid < p; });
        return it != entries_.end() && it->pid == pid ? !it->fresh : groupOf_.contains(pid);
    };
    std::vector<std::size_t> orphans;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].still && entries_[i].ppid > 0 && !stays(entries_[i].ppid))
            orphans.push_back(i);
    bool gone = false;
    for (const std::size_t i : orphans) {
        Entry& entry = entries_[i];
        threads -= static_cast<std::uint64_t>(entry.threads);
        entry.still = false;
        --unread_;
        if (!readStat(entry, true, buffer, size)) {
            ended_.push_back(entry.pid);
            out[i].pid = entry.pid = 0, gone = true;
            continue;
        }
        threads += static_cast<std::uint64_t>(entry.threads);
        out[i] = counters(entry, now());
    }
    if (!gone)
        return;
    std::erase_if(out, [](const ProcessCounters& p) { return p.pid == 0; });
    std::erase_if(entries_, [](const Entry& e) { return e.pid == 0; });
}

void ProcReader::confirmParentsAside(char* buffer, std::size_t size)
{
    // The processes put aside keep the parent of their last reading while it lives at its
    // pid: one whose parent ended (or became a zombie, or whose pid a new process took) is
    // another's now, without having run, and its stat says whose.
    if (ended_.empty() || groups_.empty())
        return;
    std::sort(ended_.begin(), ended_.end());
    const auto in = [](const std::vector<std::int32_t>& pids, std::int32_t pid) {
        return std::binary_search(pids.begin(), pids.end(), pid);
    };
    for (auto& [key, group] : groups_) {
        const std::vector<std::int32_t>& parents = group.parents;
        const bool orphaned = ended_.size() < parents.size()
                                  ? std::any_of(ended_.begin(), ended_.end(),
                                                [&](std::int32_t pid) { return in(parents, pid); })
                                  : std::any_of(parents.begin(), parents.end(),
                                                [&](std::int32_t pid) { return in(ended_, pid); });
        if (!orphaned)
            continue;
        for (Entry& entry : group.entries) {
            if (in(ended_, entry.ppid) && !readStat(entry, true, buffer, size))
                group.left = true; // gone meanwhile: read with the rest at the next read
            entry.file.close();
        }
        makeRows(group);
    }
}

bool ProcReader::readStat(Entry& entry, bool known, char* buffer, std::size_t size)
{
    const ssize_t length = keptFiles_.read(dir_, entry.pid, "stat", entry.file, buffer, size);
    if (length <= 0) {
        if (errno == EACCES || errno == EPERM)
            hidden_ = true; // not ours to read: the rows miss it
        return false;
    }
    const auto stat = parseProcStat(std::string_view(buffer, static_cast<std::size_t>(length)));
    if (!stat || stat->pid != entry.pid)
        return false;
    const double at = now();
    const std::uint64_t ticks = stat->utime + stat->stime;
    const bool same = known && entry.startTime == stat->startTime;
    if (!same) {
        // New to us: born since the last pass, or a reused pid.
        entry.commandRead = false;
        entry.recheckCommand = false;
        entry.rssRead = false;
        entry.scheduled.reset(); // another process's, or none
        entry.fresh = true;
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
    const bool ran = !same || ticks != entry.cpuTicks;
    entry.quiet = !ran;
    entry.ppid = stat->ppid;
    entry.threads = stat->threads;
    entry.startTime = stat->startTime;
    entry.cpuTicks = ticks;
    entry.memoryAt = at;

    // statm's count is exact where stat's lags by the kernel's per-CPU batches, and ps shows
    // the exact one. It is read again only when the process ran or stat's count moved. Kernel
    // threads (kthreadd and its children) have no memory of their own and run often.
    if (entry.pid == 2 || stat->ppid == 2) {
        entry.rssPages = 0;
        entry.rssRead = true;
    } else if (!entry.rssRead || ran || stat->rssPages != entry.statRss) {
        if (!readResident(entry, stat->rssPages, buffer, size))
            return false;
        entry.statRss = stat->rssPages;
    }
    if (!entry.commandRead || entry.recheckCommand) {
        const double age = at - static_cast<double>(stat->startTime) / ticksPerSecond_;
        if (!readCommand(entry, stat->state, age < youngSeconds))
            return false;
    }
    return true;
}

bool ProcReader::readResident(Entry& entry, std::int64_t fallback, char* buffer, std::size_t size)
{
    ssize_t n = -1;
    if (const UniqueFd fd = dir_.open(entry.pid, "statm"); fd.valid())
        n = readFromStart(fd.get(), buffer, size);
    if (n < 0 && gone(errno))
        return false;
    const auto resident =
        n > 0 ? parseStatmResident(std::string_view(buffer, static_cast<std::size_t>(n)))
              : std::nullopt;
    entry.rssPages = resident.value_or(fallback);
    entry.rssRead = true;
    entry.memoryAt = now();
    return true;
}

bool ProcReader::readCommand(Entry& entry, char state, bool young)
{
    const UniqueFd fd = dir_.open(entry.pid, "cmdline");
    if (!fd.valid() || !readAll(fd.get(), text_, maxCmdlineBytes)) {
        if (gone(errno))
            return false;
        text_.clear(); // not ours to read: shown by name, as ps does
    }
    entry.recheckCommand = !entry.commandRead && young;
    entry.commandRead = true;
    entry.command = processCommand(text_, entry.comm, state);
    return true;
}

ProcSampler::ProcSampler(ProcSamplerOptions options)
    : CounterSnapshotter(std::make_unique<ProcReader>(options), options.firstInterval,
                         options.sleep)
{}

std::size_t ProcSampler::unread() const
{
    return static_cast<const ProcReader&>(reader()).unread();
}

std::size_t ProcSampler::cgroupsRead() const
{
    return static_cast<const ProcReader&>(reader()).cgroupsRead();
}

} // namespace corvel
