// The parsers of /proc and of the process-status tool on arbitrary bytes; the first byte picks
// one. Whatever they accept must mean what it says: stat names the text between the first "("
// and the last ")", after the pid; a joined command line has no NUL or line feed, and a
// command is valid UTF-8.

#include "kernel_text.h"
#include "proc_parse.h"
#include "snapshot.h"
#include "text_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 6 == 0)
        stat(input);
    else if (data[0] % 6 == 1)
        check(parseStatmResident(input).value_or(0) >= 0);
    else if (data[0] % 6 == 2)
        commandLine(input);
    else if (data[0] % 6 == 3)
        parseMachineTicks(input), parseCgroupUsage(input), pidNamespaceDepth(input),
            parseReclaimEvents(input);
    else if (data[0] % 6 == 5)
        psOutput(input);
    else
        for (const MountEntry& mount : parseMountInfo(input))
            check(!mount.mountPoint.empty() && !mount.type.empty()),
                procOptionsHideProcesses(mount.options);
    return 0;
}
