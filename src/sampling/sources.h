#pragma once

// The two inputs of a sampling cycle, behind small interfaces so that the cycle can be driven
// by tests and by other platforms. Both are used by one thread at a time: the monitor moves
// them to its worker with each cycle and takes them back with the result.

#include "attribution.h"
#include "group_tree.h"
#include "snapshot.h"

#include <optional>
#include <vector>

namespace corvel {

// Takes one snapshot of the process table. It may keep state between calls (previous CPU
// counters, open files); the figures of a call are measured since the previous call.
class ProcessSnapshotter
{
public:
    virtual ~ProcessSnapshotter() = default;
    virtual std::vector<PSRow> take() = 0;
    // The same rows in parts, so that what did not change need not be looked at again.
    virtual std::vector<RowPart> takeParts()
    {
        return {RowPart{0, std::make_shared<const std::vector<PSRow>>(take())}};
    }
    // The whole machine's busy share (0 to 100, all processors) over the last take(), given
    // only when the rows may miss processes (hidden from us); otherwise none.
    virtual std::optional<double> machineShare() const { return std::nullopt; }
    // The process groups the last take looked at, when it read all of them; otherwise none.
    virtual const GroupTree* groups() const { return nullptr; }
};

// The desktop's running applications, in the order the desktop lists them, and the processes
// it knows to be theirs.
class RunningApplications
{
public:
    virtual ~RunningApplications() = default;
    virtual RunningApps list() = 0;
    // The same for the processes of this cycle's snapshot: a desktop that would list the
    // process table itself takes it from there. A part handed over as at the previous cycle
    // holds the same processes, none of which ran (so none execed). `groups`, if any: the
    // snapshot's process groups, for a desktop that would read them itself.
    virtual RunningApps listFor(const std::vector<RowPart>& /*parts*/, const GroupTree* /*groups*/)
    {
        return list();
    }
};

// A desktop that reports no applications: everything is "System & Background".
class NoRunningApplications final : public RunningApplications
{
public:
    RunningApps list() override { return {}; }
};

} // namespace corvel
