// parsePS on arbitrary bytes: besides not crashing, every row must come from a line that had
// at least four fields, its command must be what ends that line, and parsing is deterministic.

#include "snapshot.h"
#include "text_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto rows = corvel::parsePS(input);
    const std::string text = corvel::decodeUtf8Lossy(input);
    if (!corvel::isValidUtf8(text))
        std::abort();

    // Walk the decoded lines with their fields; the rows must match the lines that parse.
    std::size_t next = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const corvel::Fields fields = corvel::splitPSFields(line);
        if (fields.count < 4 || !corvel::parseInt32(fields.field[0]) ||
            !corvel::parseInt32(fields.field[1]) || !corvel::parseDouble(fields.field[2]) ||
            !corvel::parseInt64(fields.field[3]))
            continue;
        if (next >= rows.size())
            std::abort();
        const corvel::PSRow& row = rows[next++];
        if (row.pid != *corvel::parseInt32(fields.field[0]))
            std::abort();
        if (!line.ends_with(row.command) || (fields.count == 4) != row.command.empty())
            std::abort();
        if (row.command.find('\n') != std::string::npos)
            std::abort();
    }
    if (next != rows.size())
        std::abort();

    const auto again = corvel::parsePS(input);
    if (again.size() != rows.size())
        std::abort();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (again[i].command != rows[i].command || again[i].rssKB != rows[i].rssKB)
            std::abort();
    return 0;
}
