#include "window_props.h"

#include "entry_table.h"
#include "text_rules.h"

#include <algorithm>
#include <limits>

namespace corvel {

WmClass decodeWmClass(std::string_view bytes)
{
    const std::size_t first = bytes.find('\0');
    WmClass result;
    result.instance = decodeUtf8Lossy(bytes.substr(0, first));
    if (first != std::string_view::npos) {
        const std::string_view rest = bytes.substr(first + 1);
        result.cls = decodeUtf8Lossy(rest.substr(0, rest.find('\0')));
    }
    return result;
}

std::optional<std::int32_t> decodeWmPid(std::span<const std::uint32_t> values)
{
    if (values.empty() || values[0] == 0 ||
        values[0] > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(values[0]);
}

WindowRole classifyWindow(std::span<const std::uint32_t> types,
                          std::span<const std::uint32_t> states, const WindowAtoms& atoms)
{
    const auto is = [](std::uint32_t value, std::uint32_t atom) {
        return atom != 0 && value == atom;
    };
    for (const std::uint32_t type : types) {
        if (is(type, atoms.typeDock) || is(type, atoms.typeDesktop))
            return WindowRole::shell;
        if (type != 0 && std::find(atoms.otherTypes.begin(), atoms.otherTypes.end(), type) !=
                             atoms.otherTypes.end())
            return WindowRole::skipsTaskbar;
        if (is(type, atoms.typeNormal) || is(type, atoms.typeDialog))
            break;
    }
    const bool skip = std::any_of(states.begin(), states.end(), [&](std::uint32_t state) {
        return is(state, atoms.stateSkipTaskbar);
    });
    return skip ? WindowRole::skipsTaskbar : WindowRole::taskbar;
}

namespace {

std::string plainId(std::string_view id)
{
    if (id.ends_with(".desktop"))
        id.remove_suffix(8);
    return asciiLower(id);
}

// "kate" of "org.kde.kate"; nothing of a name with fewer than three parts ("firefox-esr",
// "pid42"), which is a name of its own.
std::string_view lastPart(std::string_view id)
{
    if (std::count(id.begin(), id.end(), '.') < 2)
        return {};
    return id.substr(id.rfind('.') + 1);
}

} // namespace

bool sameApplication(std::string_view appId, std::string_view toplevelAppId)
{
    const std::string a = plainId(appId), b = plainId(toplevelAppId);
    if (a.empty() || b.empty())
        return false;
    return a == b || lastPart(a) == b || lastPart(b) == a;
}

} // namespace corvel
