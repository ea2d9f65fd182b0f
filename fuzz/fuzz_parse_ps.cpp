// parsePS on arbitrary bytes: besides not crashing, there is a row for each line (after UTF-8
// repair) whose first four fields convert, in order, with that pid and the rest of the line as
// its command; the repair always gives valid UTF-8.

#include "snapshot.h"
#include "text_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace corvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto rows = parsePS(input);
    const std::string text = decodeUtf8Lossy(input);
    if (!isValidUtf8(text))
        std::abort();
    std::size_t next = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        const Fields f = splitPSFields(line);
        if (f.count < 4 || !parseInt32(f.field[0]) || !parseInt32(f.field[1]) ||
            !parseDouble(f.field[2]) || !parseInt64(f.field[3]))
            continue;
        if (next >= rows.size() || rows[next].pid != *parseInt32(f.field[0]) ||
            !line.ends_with(rows[next].command) || (f.count == 4) != rows[next].command.empty())
            std::abort();
        ++next;
    }
    if (next != rows.size())
        std::abort();
    return 0;
}
