// The desktop layer's decoders on arbitrary bytes (for entries the first line is the locale):
// ids hold desktop-id characters, pids are positive, text is UTF-8, programs have a file name.
#include "cgroup_apps.h"
#include "desktop_entry.h"
#include "program_index.h"
#include "text_rules.h"
#include "unit_name.h"
#include "window_props.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto require = [](bool holds) { holds ? void() : std::abort(); };
    const auto isText = [](const std::optional<std::string>& text) {
        return !text || (!text->empty() && isValidUtf8(*text));
    };
    if (const auto unit = parseAppUnit(input))
        require(!unit->id.empty() && unit->id.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyzABCDEF"
                                         "GHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos);
    if (const auto text = unescapeUnitPart(input))
        require(text->find('\0') == std::string::npos && text->size() <= input.size());
    for (const std::int32_t pid : parseCgroupProcs(input))
        require(pid > 0);
    const auto path = unifiedCgroupPath(input), prefix = userServicePrefix(input, 1000);
    require((!path || path->starts_with('/')) &&
            (!prefix || prefix->ends_with("/user@1000.service")));
    cgroup2MountPoint(input);

    const WmClass names = decodeWmClass(input);
    for (const std::string& name : {names.instance, names.cls})
        require(isValidUtf8(name) && name.find('\0') == std::string::npos);
    std::vector<std::uint32_t> words(size / 4); // _NET_WM_PID as CARDINALs of any count
    if (!words.empty())
        std::memcpy(words.data(), data, words.size() * 4);
    if (const auto pid = decodeWmPid(words))
        require(*pid > 0 && static_cast<std::uint32_t>(*pid) == words[0]);

    const std::size_t newline = std::min(input.find('\n'), input.size());
    const std::string_view locale = input.substr(0, newline);
    for (const std::string& key : localeKeys(locale))
        require(!key.empty());
    const auto entry = parseDesktopEntry(input.substr(std::min(newline + 1, size)), locale);
    require(!entry || (isText(entry->name) && isText(entry->icon) && isText(entry->program) &&
                       (!entry->startupWMClass || isValidUtf8(*entry->startupWMClass)) &&
                       (!entry->program || entry->program->back() != '/')));
    if (const auto exec = execProgram(input)) {
        require(!exec->program.empty() && exec->program.back() != '/');
        static_cast<void>(isWrapperProgram(baseName(exec->program)));
    }
    return 0;
}
