#include "snapshot.h"

#include "text_rules.h"

#include <algorithm>

namespace corvel {

std::vector<PSRow> parsePS(std::string_view output)
{
    const std::string text = decodeUtf8Lossy(output);
    std::string_view rest = text;
    std::vector<PSRow> rows;
    while (!rest.empty()) {
        const std::string_view line = nextLine(rest);
        if (line.empty())
            continue;
        const Fields fields = splitPSFields(line);
        if (fields.count < 4)
            continue;
        const auto pid = parseInt32(fields.field[0]);
        if (!pid)
            continue;
        const auto ppid = parseInt32(fields.field[1]);
        if (!ppid)
            continue;
        const auto cpu = parseDouble(fields.field[2]);
        if (!cpu)
            continue;
        const auto rss = parseInt64(fields.field[3]);
        if (!rss)
            continue;
        rows.push_back(PSRow{*pid, *ppid, *cpu, *rss,
                             fields.count == 5 ? std::string(fields.field[4]) : std::string()});
    }
    return rows;
}

std::string_view programName(std::string_view command)
{
    command.remove_prefix(std::min(command.find_first_not_of(' '), command.size()));
    if (command.starts_with('[')) {
        const std::size_t close = command.find(']');
        if (close != std::string_view::npos && close > 1)
            return command.substr(1, close - 1);
    }
    std::string_view word = command.substr(0, command.find(' '));
    // A path that ends in "/" names no program: the word stays whole.
    if (const std::size_t slash = word.rfind('/'); slash + 1 < word.size())
        word.remove_prefix(slash + 1);
    if (word.size() > 1 && word.ends_with(':'))
        word.remove_suffix(1);
    return word;
}

} // namespace corvel
