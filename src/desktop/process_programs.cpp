#include "process_programs.h"

#include "program_index.h"
#include "small_file.h"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>

namespace corvel {
namespace {

// Cycles: five to ten minutes at the usual interval, for a pid taken over by a new process
// between two cycles or a program that execs another.
constexpr std::uint64_t readAgainEvery = 150;
// Wrappers exec the program they start within moments; a shell may run for days.
constexpr std::uint64_t wrapperWatch = 3;

} // namespace

ProcessPrograms::ProcessPrograms(std::string procRoot, std::uint32_t uid)
    : proc_(procRoot), rootFd_(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      uid_(uid)
{}

bool ProcessPrograms::refresh(const std::vector<std::int32_t>& known, bool listAll,
                              const std::vector<RowPart>* table)
{
    ++cycle_;
    readNow_.clear();
    forgotten_.clear();
    if (!rootFd_.valid())
        return false;
    for (const std::int32_t pid : known)
        look(pid);
    if (!listAll)
        return true;
    if (!table) {
        if (!proc_.listPids(pids_))
            return false; // keep what we know; the next listing sorts it out
        for (const std::int32_t pid : pids_)
            look(pid);
        parts_.clear();
        for (const auto& [pid, program] : programs_)
            if (program.seenAt != cycle_)
                forgotten_.push_back(pid);
        for (const std::int32_t pid : forgotten_)
            programs_.erase(pid);
        return true;
    }
    // Only the processes of parts that changed are looked at, and only those of the parts
    // they replace can be gone (once in a while every one is checked).
    std::unordered_map<std::uint64_t, std::shared_ptr<const std::vector<PSRow>>> parts;
    std::vector<const std::vector<PSRow>*> replaced;
    for (const RowPart& part : *table) {
        const auto before = parts_.find(part.key);
        const bool same = part.key != 0 && before != parts_.end() && before->second == part.rows;
        if (!same)
            for (const PSRow& row : *part.rows)
                look(row.pid);
        if (before != parts_.end() && !same)
            replaced.push_back(before->second.get());
        if (before != parts_.end())
            parts_.erase(before);
        parts.emplace(part.key, part.rows);
    }
    for (const auto& [key, rows] : parts_)
        replaced.push_back(rows.get()); // gone
    if (cycle_ % readAgainEvery == 0) {
        for (const auto& [key, rows] : parts)
            for (const PSRow& row : *rows)
                if (const auto it = programs_.find(row.pid); it != programs_.end())
                    it->second.seenAt = cycle_;
        for (const auto& [pid, program] : programs_)
            if (program.seenAt != cycle_)
                forgotten_.push_back(pid);
    } else {
        for (const std::vector<PSRow>* rows : replaced)
            for (const PSRow& row : *rows)
                if (const auto it = programs_.find(row.pid);
                    it != programs_.end() && it->second.seenAt != cycle_)
                    forgotten_.push_back(row.pid);
    }
    for (const std::int32_t pid : forgotten_)
        programs_.erase(pid);
    parts_ = std::move(parts);
    return true;
}

void ProcessPrograms::look(std::int32_t pid)
{
    auto [it, added] = programs_.try_emplace(pid);
    Program& program = it->second;
    if (program.seenAt == cycle_)
        return;
    program.seenAt = cycle_;
    if (added)
        program.firstSeen = cycle_;
    if (added || cycle_ >= program.readAgainAt)
        read(pid, program);
}

void ProcessPrograms::read(std::int32_t pid, Program& program)
{
    char name[32];
    char* end = std::to_chars(name, name + 16, pid).ptr;
    *end = '\0';
    program.path.clear();
    program.readAt = cycle_;
    readNow_.push_back(pid);
    // A process first seen between fork and exec still shows its parent's program (and maybe
    // its uid): it is read again at the next look.
    const bool young = cycle_ == program.firstSeen;
    // Spread by pid, so that the processes of one start are not all read again together.
    program.readAgainAt =
        young ? cycle_ + 1
              : cycle_ + readAgainEvery + static_cast<std::uint64_t>(pid) % readAgainEvery;
    struct stat st
    {
    };
    if (::fstatat(rootFd_.get(), name, &st, 0) != 0 || st.st_uid != uid_)
        return;
    std::copy_n("/exe", 5, end);
    if (auto path = readLinkAt(rootFd_.get(), name))
        program.path = std::move(*path);
    if (!program.path.empty() && isWrapperProgram(baseName(program.path)) &&
        cycle_ < program.firstSeen + wrapperWatch)
        program.readAgainAt = cycle_ + 1;
}

} // namespace corvel
