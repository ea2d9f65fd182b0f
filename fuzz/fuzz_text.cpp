// Every parser of outside text on arbitrary bytes: /proc's, the process-status tool's and the
// desktop's; the first byte picks one. Whatever they accept must mean what it says: stat names the
// text between the first "(" and the last ")", after the pid; a joined command line has no NUL or
// line feed, and a command is valid UTF-8.

#include "app_unit_of.h"
#include "cgroup_apps.h"
#include "color_scheme.h"
#include "desktop_entry.h"
#include "kernel_text.h"
#include "proc_parse.h"
#include "process_target.h"
#include "program_index.h"
#include "snapshot.h"
#include "text_rules.h"
#include "unit_name.h"
#include "window_props.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace corvel;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void stat(std::string_view input)
{
    const auto s = parseProcStat(input);
    if (!s)
        return;
    const std::size_t open = input.find(" (");
    std::string_view pid = input.substr(0, open);
    pid.remove_prefix(std::min(pid.find_first_not_of('0'), pid.size() - 1));
    check(s->pid > 0 && s->rssPages >= 0 && pid == std::to_string(s->pid));
    check(s->comm.data() == &input[open + 2] &&
          s->comm.data() + s->comm.size() == &input[input.rfind(')')]);
}

void commandLine(std::string_view input)
{
    const char state = input.empty() ? 'S' : input[0];
    const std::string_view comm = input.substr(std::min<std::size_t>(input.size(), 1), 16);
    const std::string_view raw = input.substr(std::min<std::size_t>(input.size(), 17));
    const std::string joined = joinCmdline(raw), command = processCommand(raw, comm, state);
    check(joined.find_first_of(std::string_view("\0\n", 2)) == std::string::npos);
    check(isValidUtf8(command) && (joined.empty() || !isValidUtf8(joined) || command == joined));
    // The program's name is a part of the command, at most all of it.
    const std::string_view program = programName(command);
    check(program.empty() || (program.data() >= command.data() &&
                              program.data() + program.size() <= command.data() + command.size()));
}

// The process-status tool's output: the repair gives valid UTF-8 and leaves valid text alone;
// each line makes at most a row, whose command is in the repaired text.
void psOutput(std::string_view input)
{
    const std::string text = decodeUtf8Lossy(input);
    check(isValidUtf8(text) && (!isValidUtf8(input) || text == input));
    const auto rows = parsePS(input);
    check(rows.size() <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (const PSRow& row : rows)
        check(isValidUtf8(row.command) && row.command.find('\n') == std::string::npos &&
              text.find(row.command) != std::string::npos);
}

// The desktop layer's decoders (for entries the first line is the locale): ids hold desktop-id
// characters, pids are positive, text is UTF-8, programs have a file name.
void desktopText(std::string_view input)
{
    const auto isText = [](const std::optional<std::string>& text) {
        return !text || (!text->empty() && isValidUtf8(*text));
    };
    if (const auto unit = parseAppUnit(input))
        check(!unit->id.empty() &&
              unit->id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEF"
                                         "GHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos);
    if (const auto text = unescapeUnitPart(input))
        check(text->find('\0') == std::string::npos && text->size() <= input.size());
    for (const std::int32_t pid : parseCgroupProcs(input))
        check(pid > 0);
    const auto path = unifiedCgroupPath(input), prefix = userServicePrefix(input, 1000);
    check((!path || path->starts_with('/')) &&
          (!prefix || prefix->ends_with("/user@1000.service")));
    cgroup2MountPoint(input);
    if (const auto unit = appUnitOfPath(input, 1000)) // its folder is a part of the path
        check(input.starts_with(unit->folder) && unit->folder.ends_with("/" + unit->name));
    realUidOfStatus(input);

    const WmClass names = decodeWmClass(input);
    for (const std::string& name : {names.instance, names.cls})
        check(isValidUtf8(name) && name.find('\0') == std::string::npos);
    std::vector<std::uint32_t> words(input.size() / 4); // _NET_WM_PID as CARDINALs of any count
    if (!words.empty())
        std::memcpy(words.data(), input.data(), words.size() * 4);
    if (const auto pid = decodeWmPid(words))
        check(*pid > 0 && static_cast<std::uint32_t>(*pid) == words[0]);

    const std::size_t newline = std::min(input.find('\n'), input.size());
    const std::string_view locale = input.substr(0, newline);
    check(sameApplication(locale, input) == sameApplication(input, locale)); // either way round
    for (const std::string& key : localeKeys(locale))
        check(!key.empty());
    const auto entry = parseDesktopEntry(input.substr(std::min(newline + 1, input.size())), locale);
    check(!entry || (isText(entry->name) && isText(entry->icon) && isText(entry->program) &&
                     (!entry->startupWMClass || isValidUtf8(*entry->startupWMClass)) &&
                     (!entry->program || entry->program->back() != '/')));
    if (const auto exec = execProgram(input)) {
        check(!exec->program.empty() && exec->program.back() != '/');
        static_cast<void>(isWrapperProgram(baseName(exec->program)));
    }
    // The desktop's appearance settings, each the whole text: any text is light or dark.
    const std::string text(input);
    for (AppearanceSettings settings :
         {AppearanceSettings{.gnomeColorScheme = text}, AppearanceSettings{.gtkTheme = text},
          AppearanceSettings{.kdeWindowBackground = text}}) {
        settings.kdeColorScheme = text;
        decideColorScheme(settings);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 7 == 0)
        stat(input);
    else if (data[0] % 7 == 1)
        check(parseStatmResident(input).value_or(0) >= 0), parseSchedulerCounters(input);
    else if (data[0] % 7 == 2)
        commandLine(input);
    else if (data[0] % 7 == 3)
        parseMachineTicks(input), parseCgroupUsage(input), pidNamespaceDepth(input),
            parseThreadCount(input), parseLastPid(input), parseReclaimEvents(input);
    else if (data[0] % 7 == 5)
        psOutput(input);
    else if (data[0] % 7 == 6)
        desktopText(input);
    else
        for (const MountEntry& mount : parseMountInfo(input))
            check(!mount.mountPoint.empty() && !mount.type.empty()),
                procOptionsHideProcesses(mount.options);
    return 0;
}
