#pragma once

#include "attribution.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace corvel {

// Attribution across cycles. What group() made of a part's rows (its applications, their
// counts and memory) is kept and used again while the part hands over the very same rows, the
// lookups are the same as at the previous cycle, and every ancestor its rows were walked
// through has the parent it had then; other parts are attributed afresh. The result equals
// group() of all the parts' rows, in order, with the same lookups, detailed alike.
class GroupCache
{
public:
    Grouping group(const std::vector<RowPart>& parts, const AppLookups& lookups,
                   bool detailed = false);
    // The last group() once more, detailed or not, without a new snapshot; none before the
    // first.
    std::optional<Grouping> regroup(bool detailed);

    // Rows whose attribution the last group() took from before: for tests and benchmarks.
    std::size_t reusedRows() const { return reusedRows_; }

private:
    struct Share
    {
        const RunningApp* app; // null: System & Background
        double cpu;
        std::int64_t memoryKB, count;
        std::vector<ProcessUsage> processes; // when detailed
    };
    struct Partial
    {
        std::shared_ptr<const std::vector<PSRow>> rows;
        std::shared_ptr<const AppLookups> lookups; // keeps the shares' records alive
        std::vector<Share> shares;                 // in the order their owners first came
        std::vector<std::pair<std::int32_t, std::int32_t>> walked; // ancestor, parent or -1
        bool detailed = false;
        bool seen = false;
    };
    struct Parent
    {
        std::int32_t ppid;
        std::uint64_t part;
    };

    void forgetRows(std::uint64_t key, const std::vector<PSRow>& rows);
    void attribute(Partial& partial, const std::vector<PSRow>& rows, bool detailed);
    bool stillHolds(const Partial& partial) const;

    std::unordered_map<std::uint64_t, Partial> partials_;
    std::unordered_map<std::int32_t, Parent> parents_;
    std::shared_ptr<const AppLookups> lookups_;
    std::vector<RowPart> lastParts_;
    std::size_t reusedRows_ = 0;
};

} // namespace corvel
