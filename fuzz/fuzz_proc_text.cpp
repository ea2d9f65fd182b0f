// The kernel text parsers on arbitrary bytes; the first byte picks one. Whatever they accept
// must mean what it says: stat names the text between the first "(" and the last ")" and
// prints back into a line that parses alike; statm's count is its second number; a joined
// command line keeps every byte but NULs and line feeds, and a command is valid UTF-8.

#include "kernel_text.h"
#include "proc_parse.h"
#include "text_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string kernelLine(const corvel::ProcStat& s)
{
    using std::to_string;
    return to_string(s.pid) + " (" + std::string(s.comm) + ") " + s.state + " " +
           to_string(s.ppid) + " 1 1 0 -1 4194304 10 0 0 0 " + to_string(s.utime) + " " +
           to_string(s.stime) + " 0 0 20 0 1 0 " + to_string(s.startTime) + " 1024 " +
           to_string(s.rssPages) + " 18446744073709551615 1 1 0 0\n";
}

void stat(std::string_view input)
{
    const auto s = corvel::parseProcStat(input);
    if (!s)
        return;
    const std::size_t open = input.find(" ("), close = input.rfind(')');
    std::string_view digits = input.substr(0, open);
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    check(s->pid > 0 && s->rssPages >= 0 && std::to_string(s->pid) == digits);
    check(s->comm.data() == input.data() + open + 2 && s->comm.end() == input.data() + close);
    const std::string line = kernelLine(*s);
    const auto again = corvel::parseProcStat(line);
    check(again && again->comm == s->comm && again->ppid == s->ppid && again->utime == s->utime &&
          again->stime == s->stime && again->startTime == s->startTime &&
          again->rssPages == s->rssPages && again->state == s->state);
}

void commandLine(std::string_view input)
{
    const char state = input.empty() ? 'S' : input[0];
    const std::string_view comm = input.substr(std::min<std::size_t>(input.size(), 1), 16);
    const std::string_view raw = input.substr(std::min<std::size_t>(input.size(), 17));
    const std::string joined = corvel::joinCmdline(raw);
    std::string_view kept = raw;
    while (!kept.empty() && kept.back() == '\0')
        kept.remove_suffix(1);
    check(joined.size() == kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i)
        check(joined[i] == (kept[i] == '\0' || kept[i] == '\n' ? ' ' : kept[i]));
    const std::string command = corvel::processCommand(raw, comm, state);
    check(corvel::isValidUtf8(command));
    check(joined.empty() || !corvel::isValidUtf8(joined) || command == joined);
    check(!joined.empty() ||
          (command.front() == '[' && command.ends_with(state == 'Z' ? "] <defunct>" : "]")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        stat(input);
        break;
    case 1:
        if (const auto resident = corvel::parseStatmResident(input)) {
            std::string_view rest = input.substr(input.find_first_not_of(' '));
            rest = rest.substr(rest.find_first_not_of(' ', rest.find(' ')));
            std::string_view second = rest.substr(0, rest.find_first_of(" \n"));
            while (second.size() > 1 && second.front() == '0')
                second.remove_prefix(1);
            check(*resident >= 0 && second == std::to_string(*resident));
        }
        break;
    case 2:
        commandLine(input);
        break;
    case 3:
        corvel::parseMachineTicks(input);
        corvel::parseCgroupUsage(input);
        corvel::pidNamespaceDepth(input);
        break;
    default:
        for (const corvel::MountEntry& mount : corvel::parseMountInfo(input)) {
            check(!mount.mountPoint.empty() && !mount.type.empty());
            corvel::procOptionsHideProcesses(mount.options);
        }
        break;
    }
    return 0;
}
