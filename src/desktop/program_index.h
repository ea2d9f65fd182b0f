#pragma once

#include "entry_table.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel {

// Which application a running program is: the desktop entries by the program their Exec or
// TryExec runs, found as written when absolute, else on $PATH, and compared with a process's
// executable by resolved path, then by file name. Conservative by design, since a wrong row is
// worse than none: entries that run in a terminal or are not displayed take no part, neither
// do interpreters, shells and launch wrappers (they run some other program), and a program
// that several entries run is nobody's, unless exactly one of them runs it without arguments.
class ProgramIndex
{
public:
    ProgramIndex() = default;
    ProgramIndex(const EntryTable& entries, const std::vector<std::string>& programFolders);

    // The desktop id whose program `executable` (a /proc/PID/exe target) is, or nothing.
    std::optional<std::string_view> match(std::string_view executable) const;

private:
    std::unordered_map<std::string, std::string> byPath_;
    std::unordered_map<std::string, std::string> byName_;
};

// Interpreters, shells and wrappers that start other programs (sh, python3.11, env, flatpak,
// sudo…): their own file name never tells which application runs.
bool isWrapperProgram(std::string_view fileName);

} // namespace corvel
