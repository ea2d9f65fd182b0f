// parseDesktopEntry on arbitrary bytes: the first line is the locale, the rest the file. Every
// value that comes out is valid UTF-8 and non-empty, and Exec's program has no folder part.

#include "desktop_entry.h"
#include "program_index.h"
#include "text_rules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(const std::optional<std::string>& value)
{
    if (value && (value->empty() || !corvel::isValidUtf8(*value)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string_view locale = input.substr(0, newline);
    const std::string_view text =
        newline == std::string_view::npos ? std::string_view{} : input.substr(newline + 1);

    const auto entry = corvel::parseDesktopEntry(text, locale);
    if (entry) {
        check(entry->name);
        check(entry->icon);
        if (entry->startupWMClass && !corvel::isValidUtf8(*entry->startupWMClass))
            std::abort();
        if (entry->program && (entry->program->empty() || entry->program->back() == '/'))
            std::abort();
    }
    for (const std::string& key : corvel::localeKeys(locale))
        if (key.empty())
            std::abort();
    if (const auto exec = corvel::execProgram(text)) {
        if (exec->program.empty() || exec->program.back() == '/')
            std::abort();
        static_cast<void>(corvel::isWrapperProgram(corvel::baseName(exec->program)));
    }
    return 0;
}
