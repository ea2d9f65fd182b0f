#include "snapshot.h"

#include "text_rules.h"

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

} // namespace corvel
