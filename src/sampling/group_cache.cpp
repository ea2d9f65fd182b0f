#include "group_cache.h"

#include "owner.h"

namespace corvel {
namespace {

bool sameApp(const RunningApp* a, const RunningApp* b)
{
    if (!a || !b)
        return a == b;
    const auto icon = [](const RunningApp& app) {
        return app.icon ? std::optional(app.icon->nameOrPath) : std::nullopt;
    };
    return a->processIdentifier == b->processIdentifier && a->bundlePath == b->bundlePath &&
           a->activationPolicy == b->activationPolicy &&
           a->bundleIdentifier == b->bundleIdentifier && a->localizedName == b->localizedName &&
           icon(*a) == icon(*b);
}

template <typename Map, typename Same>
bool sameMap(const Map& a, const Map& b, Same same)
{
    if (a.size() != b.size())
        return false;
    for (const auto& [key, value] : a) {
        const auto it = b.find(key);
        if (it == b.end() || !same(value, it->second))
            return false;
    }
    return true;
}

// The same lookups by value: the desktop makes new records every cycle.
bool sameLookups(const AppLookups& a, const AppLookups& b)
{
    const auto ref = [](const RunningAppRef& x, const RunningAppRef& y) {
        return sameApp(x.get(), y.get());
    };
    const auto member = [](const UnitMember& x, const UnitMember& y) {
        return x.unit == y.unit && sameApp(x.app.get(), y.app.get());
    };
    return sameMap(a.byPID, b.byPID, ref) && sameMap(a.byBundlePath, b.byBundlePath, ref) &&
           sameMap(a.byUnit, b.byUnit, member);
}

} // namespace

void GroupCache::forgetRows(std::uint64_t key, const std::vector<PSRow>& rows)
{
    for (const PSRow& row : rows) {
        const auto it = parents_.find(row.pid);
        if (it != parents_.end() && it->second.part == key)
            parents_.erase(it);
    }
}

void GroupCache::attribute(Partial& partial, const std::vector<PSRow>& rows, bool detailed)
{
    const AppLookups& lookups = *lookups_;
    partial.lookups = lookups_;
    partial.detailed = detailed;
    partial.shares.clear();
    std::unordered_map<std::int32_t, std::int32_t> walked;
    const auto parentOf = [&](std::int32_t pid) -> const std::int32_t* {
        const auto it = parents_.find(pid);
        walked.emplace(pid, it == parents_.end() ? -1 : it->second.ppid);
        return it == parents_.end() ? nullptr : &it->second.ppid;
    };
    std::unordered_map<const RunningApp*, std::size_t> shareOf;
    for (const PSRow& row : rows) {
        const RunningApp* app =
            ownership::owner(row, lookups.byPID, lookups.byBundlePath, lookups.byUnit, parentOf);
        const auto [it, added] = shareOf.emplace(app, partial.shares.size());
        if (added)
            partial.shares.push_back(Share{app, 0, 0, 0, {}});
        Share& share = partial.shares[it->second];
        share.cpu += row.cpu;
        share.memoryKB = ownership::addSaturating(share.memoryKB, row.rssKB);
        share.count = ownership::addSaturating(share.count, 1);
        if (detailed)
            share.processes.push_back(ProcessUsage::of(row));
    }
    partial.walked.assign(walked.begin(), walked.end());
}

bool GroupCache::stillHolds(const Partial& partial) const
{
    for (const auto& [pid, parent] : partial.walked) {
        const auto it = parents_.find(pid);
        if ((it == parents_.end() ? -1 : it->second.ppid) != parent)
            return false;
    }
    return true;
}

std::optional<Grouping> GroupCache::regroup(bool detailed)
{
    if (!lookups_)
        return std::nullopt;
    const std::vector<RowPart> parts = lastParts_;
    return group(parts, *lookups_, detailed);
}

Grouping GroupCache::group(const std::vector<RowPart>& parts, const AppLookups& lookups,
                           bool detailed)
{
    const bool sameAsBefore =
        lookups_ && (&lookups == lookups_.get() || sameLookups(*lookups_, lookups));
    if (!sameAsBefore)
        lookups_ = std::make_shared<const AppLookups>(lookups);
    reusedRows_ = 0;

    // First the table of parents, which every part's walks read; then each part's shares.
    for (auto& [key, partial] : partials_)
        partial.seen = false;
    std::vector<bool> fresh(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Partial& partial = partials_[parts[i].key];
        partial.seen = true;
        fresh[i] = partial.rows != parts[i].rows;
        if (fresh[i] && partial.rows)
            forgetRows(parts[i].key, *partial.rows);
    }
    for (auto it = partials_.begin(); it != partials_.end();) {
        if (it->second.seen) {
            ++it;
            continue;
        }
        if (it->second.rows)
            forgetRows(it->first, *it->second.rows);
        it = partials_.erase(it);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!fresh[i])
            continue;
        for (const PSRow& row : *parts[i].rows)
            parents_.emplace(row.pid, Parent{row.ppid, parts[i].key}); // the first row wins
        partials_[parts[i].key].rows = parts[i].rows;
    }

    Grouping result;
    ownership::Tally tally(result, detailed);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Partial& partial = partials_[parts[i].key];
        if (fresh[i] || !sameAsBefore || partial.detailed != detailed || !stillHolds(partial))
            attribute(partial, *partial.rows, detailed);
        else
            reusedRows_ += partial.rows->size();
        for (const Share& share : partial.shares) {
            const std::size_t entry = tally.add(share.app, share.cpu, share.memoryKB, share.count);
            if (detailed)
                tally.addProcesses(entry, share.processes);
        }
    }
    tally.finish();
    lastParts_ = parts;
    return result;
}

} // namespace corvel
