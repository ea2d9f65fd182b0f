// parsePS on arbitrary bytes: besides not crashing, the repair gives valid UTF-8 and leaves
// valid text alone, and each line makes at most a row, whose command is in the repaired text.

#include "snapshot.h"
#include "text_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace corvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto require = [](bool holds) { holds ? void() : std::abort(); };
    const std::string text = decodeUtf8Lossy(input);
    require(isValidUtf8(text) && (!isValidUtf8(input) || text == input));
    const auto rows = parsePS(input);
    require(rows.size() <=
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    for (const PSRow& row : rows)
        require(isValidUtf8(row.command) && row.command.find('\n') == std::string::npos &&
                text.find(row.command) != std::string::npos);
    return 0;
}
