// joinCmdline and processCommand on arbitrary bytes. The first byte is the process state,
// the next up to 16 its name, the rest the cmdline file. The joined text keeps every byte in
// place but turns NULs and line feeds into spaces and drops trailing NULs; the command is
// always valid UTF-8 and equals the joined text when that was already fine.

#include "proc_parse.h"
#include "text_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const char state = input[0];
    const std::string_view comm = input.substr(1, 16);
    const std::string_view raw = input.substr(std::min<std::size_t>(size, 17));

    const std::string joined = corvel::joinCmdline(raw);
    std::string_view kept = raw;
    while (!kept.empty() && kept.back() == '\0')
        kept.remove_suffix(1);
    if (joined.size() != kept.size())
        std::abort();
    if (joined.find('\0') != std::string::npos || joined.find('\n') != std::string::npos)
        std::abort();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const bool separator = kept[i] == '\0' || kept[i] == '\n';
        if (joined[i] != (separator ? ' ' : kept[i]))
            std::abort();
    }
    // No space at the end that a NUL put there.
    if (!joined.empty() && joined.back() == ' ' && kept.back() == '\0')
        std::abort();

    const std::string command = corvel::processCommand(raw, comm, state);
    if (!corvel::isValidUtf8(command))
        std::abort();
    if (!joined.empty() && corvel::isValidUtf8(joined) && command != joined)
        std::abort();
    if (joined.empty()) {
        const std::string suffix = state == 'Z' ? "] <defunct>" : "]";
        if (command.front() != '[' || !command.ends_with(suffix))
            std::abort();
    }
    if (corvel::processCommand(raw, comm, state) != command)
        std::abort();
    return 0;
}
