// The small decoders of the desktop layer on arbitrary bytes: unit names, /proc/PID/cgroup,
// cgroup.procs, mountinfo, WM_CLASS and _NET_WM_PID. Ids that come out hold only desktop-id
// characters, pids are positive, and decoded text is valid UTF-8 without NULs.

#include "cgroup_apps.h"
#include "text_rules.h"
#include "unit_name.h"
#include "window_props.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

bool isIdCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    if (const auto unit = corvel::parseAppUnit(input)) {
        if (unit->id.empty())
            std::abort();
        for (const char c : unit->id)
            if (!isIdCharacter(c))
                std::abort();
        const auto again = corvel::parseAppUnit(input);
        if (!again || again->id != unit->id || again->kind != unit->kind)
            std::abort();
    }
    if (const auto text = corvel::unescapeUnitPart(input))
        if (text->find('\0') != std::string::npos || text->size() > input.size())
            std::abort();

    for (const std::int32_t pid : corvel::parseCgroupProcs(input))
        if (pid <= 0)
            std::abort();
    if (const auto path = corvel::unifiedCgroupPath(input))
        if (path->empty() || path->front() != '/')
            std::abort();
    if (const auto prefix = corvel::userServicePrefix(input, 1000))
        if (!prefix->ends_with("user@1000.service"))
            std::abort();
    corvel::cgroup2MountPoint(input);

    const corvel::WmClass names = corvel::decodeWmClass(input);
    for (const std::string* text : {&names.instance, &names.cls})
        if (!corvel::isValidUtf8(*text) || text->find('\0') != std::string::npos)
            std::abort();

    // _NET_WM_PID as CARDINALs of any count: a pid comes out only when it is plausible.
    std::vector<std::uint32_t> words(size / 4);
    if (!words.empty())
        std::memcpy(words.data(), data, words.size() * 4);
    if (const auto pid = corvel::decodeWmPid(words))
        if (*pid <= 0 || words.empty() || static_cast<std::uint32_t>(*pid) != words[0])
            std::abort();
    return 0;
}
