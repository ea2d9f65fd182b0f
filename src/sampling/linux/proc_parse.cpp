#include "proc_parse.h"

#include "text_rules.h"

#include <charconv>
#include <cstdint>

namespace corvel {
namespace {

// Takes the next space-separated field off the front of `rest`.
std::string_view nextField(std::string_view& rest)
{
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = rest.find_first_of(" \n");
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    if (!rest.empty() && rest.front() == '\n')
        rest = {}; // nothing after the end of the line counts
    return field;
}

template <typename Int>
bool toNumber(std::string_view field, Int& value)
{
    const std::optional<Int> parsed = parseInteger<Int>(field);
    value = parsed.value_or(value);
    return parsed.has_value();
}

// A page count: written unsigned, kept signed as PSRow's sizes are.
bool toCount(std::string_view field, std::int64_t& value)
{
    std::uint64_t count = 0;
    if (!toNumber(field, count) || count > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    value = static_cast<std::int64_t>(count);
    return true;
}

bool isInteger(std::string_view field)
{
    if (!field.empty() && field.front() == '-')
        field.remove_prefix(1);
    return !field.empty() && field.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::optional<ProcStat> parseProcStat(std::string_view text)
{
    const std::size_t open = text.find(" (");
    const std::size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2)
        return std::nullopt;
    ProcStat stat;
    if (!toNumber(text.substr(0, open), stat.pid) || stat.pid <= 0)
        return std::nullopt;
    stat.comm = text.substr(open + 2, close - open - 2);

    // Field numbers as in proc(5): the name is 2, the state 3. Every field after the
    // state is an integer; those the sampler does not use are only checked.
    std::string_view rest = text.substr(close + 1);
    if (rest.empty() || rest.front() != ' ')
        return std::nullopt;
    const std::string_view state = nextField(rest);
    if (state.size() != 1)
        return std::nullopt;
    stat.state = state.front();
    for (int number = 4; number <= 24; ++number) {
        const std::string_view field = nextField(rest);
        bool ok = false;
        switch (number) {
        case 4:
            ok = toNumber(field, stat.ppid);
            break;
        case 14:
            ok = toNumber(field, stat.utime);
            break;
        case 15:
            ok = toNumber(field, stat.stime);
            break;
        case 20:
            ok = toNumber(field, stat.threads);
            break;
        case 22:
            ok = toNumber(field, stat.startTime);
            break;
        case 24:
            ok = toCount(field, stat.rssPages);
            break;
        default:
            ok = isInteger(field);
            break;
        }
        if (!ok)
            return std::nullopt;
    }
    // Field 28, the stack's start, is placed anew at random by every exec. Older or
    // restricted views may lack it or show 0; then it simply tells nothing.
    for (int number = 25; number <= 28; ++number) {
        const std::string_view field = nextField(rest);
        if (number == 28 && !toNumber(field, stat.startStack))
            stat.startStack = 0;
    }
    return stat;
}

std::optional<std::int64_t> parseStatmResident(std::string_view text)
{
    std::string_view rest = text;
    std::uint64_t size = 0;
    std::int64_t resident = 0;
    if (!toNumber(nextField(rest), size) || !toCount(nextField(rest), resident))
        return std::nullopt;
    return resident;
}

std::optional<SchedulerCounters> parseSchedulerCounters(std::string_view text)
{
    std::string_view rest = text;
    SchedulerCounters counters;
    if (!toNumber(nextField(rest), counters.ran) || !toNumber(nextField(rest), counters.waited) ||
        !toNumber(nextField(rest), counters.runs) || counters == SchedulerCounters{})
        return std::nullopt;
    return counters;
}

std::string joinCmdline(std::string_view raw)
{
    while (!raw.empty() && raw.back() == '\0')
        raw.remove_suffix(1);
    std::string joined(raw);
    for (char& c : joined) {
        if (c == '\0' || c == '\n')
            c = ' ';
    }
    return joined;
}

std::string processCommand(std::string_view rawCmdline, std::string_view comm, char state)
{
    std::string command = joinCmdline(rawCmdline);
    if (command.empty()) {
        command.reserve(comm.size() + 12);
        command += '[';
        command += comm;
        command += ']';
        if (state == 'Z')
            command += " <defunct>";
    }
    if (!isValidUtf8(command))
        command = decodeUtf8Lossy(command);
    return command;
}

} // namespace corvel
