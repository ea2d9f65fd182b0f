// parseProcStat on arbitrary bytes. A line it accepts must name the text between the first
// "(" and the last ")" as the process name, and print back into a line that parses to the
// same fields. A line as the kernel writes it, with these bytes as the name, always parses.

#include "proc_parse.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string kernelLine(const corvel::ProcStat& s)
{
    using std::to_string;
    return to_string(s.pid) + " (" + std::string(s.comm) + ") " + s.state + " " +
           to_string(s.ppid) + " 1 1 0 -1 4194304 10 0 0 0 " + to_string(s.utime) + " " +
           to_string(s.stime) + " 0 0 20 0 1 0 " + to_string(s.startTime) + " 1024 " +
           to_string(s.rssPages) + " 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 0 0 0\n";
}

bool sameFields(const corvel::ProcStat& a, const corvel::ProcStat& b)
{
    return a.pid == b.pid && a.comm == b.comm && a.state == b.state && a.ppid == b.ppid &&
           a.utime == b.utime && a.stime == b.stime && a.startTime == b.startTime &&
           a.rssPages == b.rssPages;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto stat = corvel::parseProcStat(input);
    if (stat) {
        const std::size_t open = input.find('(');
        const std::size_t close = input.rfind(')');
        if (stat->pid <= 0 || stat->rssPages < 0)
            std::abort();
        if (stat->comm != input.substr(open + 1, close - open - 1))
            std::abort();
        if (stat->comm.data() != input.data() + open + 1)
            std::abort(); // a view into the input, not a copy
        // The pid is the decimal number before " (".
        std::int32_t pid = 0;
        const std::string_view digits = input.substr(0, open - 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
        if (ec != std::errc() || end != digits.data() + digits.size() || pid != stat->pid)
            std::abort();
        const std::string_view after = input.substr(close + 1);
        if (after.empty() || after.front() != ' ' ||
            after[after.find_first_not_of(' ')] != stat->state)
            std::abort();

        const std::string line = kernelLine(*stat);
        const auto again = corvel::parseProcStat(line);
        if (!again || !sameFields(*again, *stat))
            std::abort();
        const auto twice = corvel::parseProcStat(input);
        if (!twice || !sameFields(*twice, *stat))
            std::abort();
    }

    // Any name the kernel may hold (no NUL, at most 64 bytes) comes back exactly.
    if (size <= 64 && input.find('\0') == std::string_view::npos) {
        corvel::ProcStat made;
        made.pid = 4242;
        made.comm = input;
        made.state = 'S';
        made.ppid = 1;
        made.utime = 7;
        made.stime = 8;
        made.startTime = 9;
        made.rssPages = 10;
        const std::string line = kernelLine(made);
        const auto parsed = corvel::parseProcStat(line);
        if (!parsed || !sameFields(*parsed, made))
            std::abort();
    }
    return 0;
}
