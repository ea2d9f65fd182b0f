#include "unit_name.h"

#include <algorithm>
#include <array>
#include <vector>

namespace corvel {
namespace {

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Desktop file ids are D-Bus-like names that may also hold "-".
bool isApplicationId(std::string_view id)
{
    return !id.empty() && id.front() != '.' && id.back() != '.' &&
           std::all_of(id.begin(), id.end(),
                       [](char c) { return isAlnum(c) || c == '.' || c == '_' || c == '-'; });
}

bool isLauncherName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return isAlnum(c) || c == '.' || c == '_'; });
}

bool isRandom(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return isAlnum(c) || c == '_'; });
}

bool isDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> splitOnDash(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dash = text.find('-', start);
        parts.push_back(text.substr(start, dash - start));
        if (dash == std::string_view::npos)
            return parts;
        start = dash + 1;
    }
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20) || x == y;
           });
}

// Shells, panels and launchers that put themselves into app units.
bool isLauncherId(std::string_view id)
{
    static constexpr std::array<std::string_view, 20> launchers = {
        "org.gnome.Shell",
        "gnome-shell",
        "org.gnome.Shell.Overview",
        "cinnamon",
        "org.cinnamon",
        "cinnamon-launcher",
        "rofi",
        "dmenu",
        "wofi",
        "fuzzel",
        "plasmashell",
        "org.kde.plasmashell",
        "krunner",
        "org.kde.krunner",
        "xfce4-panel",
        "xfce4-appfinder",
        "mate-panel",
        "budgie-panel",
        "lxqt-panel",
        "gnome-panel",
    };
    return std::any_of(launchers.begin(), launchers.end(),
                       [&](std::string_view l) { return equalsIgnoringCase(l, id); });
}

std::optional<AppUnit> makeUnit(std::string_view escapedId, AppUnit::Kind kind)
{
    auto id = unescapeUnitPart(escapedId);
    if (!id || !isApplicationId(*id))
        return std::nullopt;
    if (isLauncherId(*id))
        kind = AppUnit::Kind::launcher;
    return AppUnit{std::move(*id), kind};
}

// "app-<launcher>-<ID>" or "app-<ID>", with the parts already split on "-".
std::optional<std::string_view> idOfAppParts(const std::vector<std::string_view>& parts)
{
    if (parts.size() == 2)
        return parts[1];
    if (parts.size() == 3 && isLauncherName(parts[1]))
        return parts[2];
    return std::nullopt;
}

std::optional<AppUnit> parseAppScope(std::string_view stem)
{
    const auto parts = splitOnDash(stem);
    if (parts.size() < 3 || !isRandom(parts.back()))
        return std::nullopt;
    const auto id = idOfAppParts({parts.begin(), parts.end() - 1});
    return id ? makeUnit(*id, AppUnit::Kind::application) : std::nullopt;
}

std::optional<AppUnit> parseAppService(std::string_view stem)
{
    const std::size_t at = stem.find('@');
    const std::string_view prefix = stem.substr(0, at);
    auto kind = AppUnit::Kind::application;
    if (at != std::string_view::npos) {
        const std::string_view instance = stem.substr(at + 1);
        if (instance == "autostart")
            kind = AppUnit::Kind::autostart;
        else if (!isRandom(instance))
            return std::nullopt;
    }
    const auto id = idOfAppParts(splitOnDash(prefix));
    return id ? makeUnit(*id, kind) : std::nullopt;
}

std::optional<AppUnit> parseAppSlice(std::string_view stem)
{
    const auto id = idOfAppParts(splitOnDash(stem));
    return id ? makeUnit(*id, AppUnit::Kind::application) : std::nullopt;
}

bool isUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : hexValue(text[i]) < 0)
            return false;
    }
    return true;
}

// snap.<pkg>.<app>-<uuid>: snap and app names may hold "-", so the uuid is taken from the end.
std::optional<AppUnit> parseSnapScope(std::string_view stem)
{
    if (stem.size() <= 5)
        return std::nullopt;
    std::string_view rest = stem.substr(5);
    if (rest.size() > 37 && isUuid(rest.substr(rest.size() - 36)) && rest[rest.size() - 37] == '-')
        rest.remove_suffix(37);
    else if (const std::size_t dash = rest.rfind('-');
             dash != std::string_view::npos && isRandom(rest.substr(dash + 1)))
        rest = rest.substr(0, dash);
    else
        return std::nullopt;
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == rest.size())
        return std::nullopt;
    const std::string id =
        std::string(rest.substr(0, dot)) + "_" + std::string(rest.substr(dot + 1));
    if (id.find('.') != std::string::npos)
        return std::nullopt;
    return makeUnit(id, AppUnit::Kind::application);
}

// dbus-:1.<N>-<ID>@<N>
std::optional<AppUnit> parseDBusService(std::string_view stem)
{
    const std::size_t at = stem.rfind('@');
    if (at == std::string_view::npos || !isDigits(stem.substr(at + 1)))
        return std::nullopt;
    const auto parts = splitOnDash(stem.substr(0, at));
    if (parts.size() != 3 || parts[1].size() < 2 || parts[1][0] != ':')
        return std::nullopt;
    const std::string_view bus = parts[1].substr(1);
    const std::size_t dot = bus.find('.');
    if (dot == std::string_view::npos || !isDigits(bus.substr(0, dot)) ||
        !isDigits(bus.substr(dot + 1)))
        return std::nullopt;
    return makeUnit(parts[2], AppUnit::Kind::application);
}

} // namespace

std::optional<std::string> unescapeUnitPart(std::string_view part)
{
    std::string out;
    out.reserve(part.size());
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] == '\0')
            return std::nullopt;
        if (part[i] != '\\') {
            out += part[i];
            continue;
        }
        if (i + 3 >= part.size() || part[i + 1] != 'x')
            return std::nullopt;
        const int high = hexValue(part[i + 2]);
        const int low = hexValue(part[i + 3]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

std::optional<AppUnit> parseAppUnit(std::string_view name)
{
    if (name.starts_with("app-")) {
        if (endsWith(name, ".scope"))
            return parseAppScope(name.substr(0, name.size() - 6));
        if (endsWith(name, ".service"))
            return parseAppService(name.substr(0, name.size() - 8));
        if (endsWith(name, ".slice"))
            return parseAppSlice(name.substr(0, name.size() - 6));
        return std::nullopt;
    }
    if (name.starts_with("snap.") && endsWith(name, ".scope"))
        return parseSnapScope(name.substr(0, name.size() - 6));
    if (name.starts_with("dbus-:") && endsWith(name, ".service"))
        return parseDBusService(name.substr(0, name.size() - 8));
    return std::nullopt;
}

} // namespace corvel
