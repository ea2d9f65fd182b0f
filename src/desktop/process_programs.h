#pragma once

#include "proc_dir.h"
#include "snapshot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel {

// The program (/proc/PID/exe) of every process of one user, kept from cycle to cycle: a
// process's program changes only when it execs, so a process is read when it is new, once more
// at the next look (it may have been between fork and exec), in its first cycles while it runs
// a wrapper or an interpreter (which often exec the real program at once), and otherwise every
// five to ten minutes, spread over the cycles. Other users' processes are left out; so are
// kernel threads and processes whose program cannot be read.
class ProcessPrograms
{
public:
    ProcessPrograms(std::string procRoot, std::uint32_t uid);

    // Looks at `known` (the processes of the application units) and, when `listAll`, at every
    // process (those of `table` when given, else those /proc lists), forgetting the ones that
    // are gone. A part of `table` handed over as at the last full look is passed by: its
    // processes did not run. Between full listings, processes outside `known` keep what was
    // last read. False when the process table cannot be listed.
    bool refresh(const std::vector<std::int32_t>& known, bool listAll,
                 const std::vector<RowPart>* table = nullptr);

    struct Program
    {
        std::string path;                    // empty: not the user's, or unreadable
        std::uint64_t readAt = 0;            // the cycle that read `path`
        std::optional<std::string_view> app; // kept here for the caller, who matches `path`
        std::uint64_t readAgainAt = 0;
        std::uint64_t seenAt = 0;
        std::uint64_t firstSeen = 0;
    };
    std::unordered_map<std::int32_t, Program>& programs() { return programs_; }
    std::uint64_t cycle() const { return cycle_; } // counts refreshes
    // What the last refresh read, and forgot.
    const std::vector<std::int32_t>& readNow() const { return readNow_; }
    const std::vector<std::int32_t>& forgotten() const { return forgotten_; }

private:
    void look(std::int32_t pid);
    void read(std::int32_t pid, Program& program);

    ProcDir proc_;
    UniqueFd rootFd_;
    std::uint32_t uid_;
    std::uint64_t cycle_ = 0;
    void forget(std::int32_t pid);

    std::vector<std::int32_t> pids_;
    std::unordered_map<std::int32_t, Program> programs_;
    std::vector<std::int32_t> readNow_, forgotten_;
    std::unordered_map<std::uint64_t, std::shared_ptr<const std::vector<PSRow>>> parts_;
};

} // namespace corvel
