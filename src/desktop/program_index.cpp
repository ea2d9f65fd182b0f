#include "program_index.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {
namespace {

constexpr std::array exactWrappers = std::to_array<std::string_view>({
    "app2unit",
    "ash",
    "bash",
    "busybox",
    "bwrap",
    "chrt",
    "csh",
    "dash",
    "dbus-launch",
    "dbus-run-session",
    "doas",
    "env",
    "exo-open",
    "firejail",
    "fish",
    "flatpak",
    "flatpak-spawn",
    "gamemoderun",
    "gdb",
    "gio",
    "gjs-console",
    "gtk-launch",
    "gtk4-launch",
    "ionice",
    "kde-open",
    "kde-open5",
    "kioclient",
    "kioclient5",
    "kstart",
    "kstart5",
    "ksh",
    "ld.so",
    "ltrace",
    "mksh",
    "nice",
    "nohup",
    "pkexec",
    "prime-run",
    "runuser",
    "script",
    "setsid",
    "sh",
    "snap",
    "stdbuf",
    "strace",
    "su",
    "sudo",
    "systemd-run",
    "taskset",
    "tcsh",
    "timeout",
    "unbuffer",
    "uwsm",
    "valgrind",
    "wine-preloader",
    "wine64-preloader",
    "xargs",
    "xdg-open",
    "yash",
    "zsh",
});

// Followed by nothing but a version: python3.11, perl5.36.0, node, lua5.4, wine64.
constexpr std::array versionedWrappers = std::to_array<std::string_view>({
    "electron",
    "gjs",
    "guile",
    "java",
    "lua",
    "luajit",
    "mono",
    "node",
    "nodejs",
    "perl",
    "php",
    "pypy",
    "python",
    "ruby",
    "tclsh",
    "wine",
    "wish",
});

bool isVersion(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

bool isExecutableFile(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The program's path as a process's executable link would show it, if it can be found.
std::optional<std::string> resolve(const std::string& program,
                                   const std::vector<std::string>& folders)
{
    std::string path;
    if (program.find('/') != std::string::npos) {
        if (program.front() != '/')
            return std::nullopt; // relative to a folder we do not know
        path = program;
    } else {
        for (const std::string& folder : folders)
            if (isExecutableFile(folder + "/" + program)) {
                path = folder + "/" + program;
                break;
            }
        if (path.empty())
            return std::nullopt;
    }
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real))
        return std::string(real);
    return path; // not installed here: as written
}

struct Candidates
{
    std::set<std::string> ids;
    std::set<std::string> plainIds;
};

void settle(std::unordered_map<std::string, Candidates>& found,
            std::unordered_map<std::string, std::string>& into)
{
    for (auto& [key, candidates] : found) {
        if (candidates.ids.size() == 1)
            into.emplace(key, *candidates.ids.begin());
        else if (candidates.plainIds.size() == 1)
            into.emplace(key, *candidates.plainIds.begin());
    }
}

} // namespace

bool isWrapperProgram(std::string_view name)
{
    if (std::find(exactWrappers.begin(), exactWrappers.end(), name) != exactWrappers.end() ||
        name.starts_with("ld-linux"))
        return true;
    return std::any_of(versionedWrappers.begin(), versionedWrappers.end(), [&](std::string_view w) {
        return name.starts_with(w) && isVersion(name.substr(w.size()));
    });
}

ProgramIndex::ProgramIndex(const EntryTable& entries,
                           const std::vector<std::string>& programFolders)
{
    std::unordered_map<std::string, Candidates> byPath;
    std::unordered_map<std::string, Candidates> byName;
    const auto add = [](Candidates& to, const std::string& id, bool plain) {
        to.ids.insert(id);
        if (plain)
            to.plainIds.insert(id);
    };
    for (const std::string& id : entries.ids()) {
        const DesktopEntry* entry = entries.find(id);
        if (!entry || entry->noDisplay || entry->terminal)
            continue;
        for (const auto* program : {&entry->program, &entry->tryExec}) {
            if (!*program || program->value().empty() || isWrapperProgram(baseName(**program)))
                continue;
            const bool plain = program == &entry->program && entry->plainExec;
            add(byName[std::string(baseName(**program))], id, plain);
            if (const auto path = resolve(**program, programFolders)) {
                const std::string_view name = baseName(*path);
                if (isWrapperProgram(name))
                    continue; // a link to an interpreter
                add(byPath[*path], id, plain);
                add(byName[std::string(name)], id, plain);
            }
        }
    }
    settle(byPath, byPath_);
    settle(byName, byName_);
}

std::optional<std::string_view> ProgramIndex::match(std::string_view executable) const
{
    // A program replaced on disk while it runs (an upgrade) shows as "<path> (deleted)".
    constexpr std::string_view deleted = " (deleted)";
    if (executable.ends_with(deleted))
        executable.remove_suffix(deleted.size());
    const std::string_view name = baseName(executable);
    if (name.empty() || isWrapperProgram(name))
        return std::nullopt;
    if (const auto it = byPath_.find(std::string(executable)); it != byPath_.end())
        return it->second;
    if (const auto it = byName_.find(std::string(name)); it != byName_.end())
        return it->second;
    return std::nullopt;
}

} // namespace corvel
