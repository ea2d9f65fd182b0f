#include "desktop_environment.h"

#include <cstdlib>

namespace corvel {
namespace {

std::optional<std::string> nonEmpty(const EnvironmentLookup& lookup, std::string_view name)
{
    auto value = lookup(name);
    if (value && value->empty())
        value.reset();
    return value;
}

std::vector<std::string> absoluteFolders(std::string_view list)
{
    std::vector<std::string> folders;
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        std::string folder(list.substr(0, colon));
        list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (folder.starts_with("/"))
            folders.push_back(std::move(folder));
    }
    return folders;
}

// $HOME-relative default when the variable is unset; nothing when neither helps.
std::optional<std::string> homeFolder(const EnvironmentLookup& lookup, std::string_view variable,
                                      std::string_view underHome)
{
    if (auto value = nonEmpty(lookup, variable); value && value->starts_with("/"))
        return value;
    if (auto home = nonEmpty(lookup, "HOME"); home && home->starts_with("/"))
        return *home + "/" + std::string(underHome);
    return std::nullopt;
}

} // namespace

DesktopEnvironment desktopEnvironmentFrom(const EnvironmentLookup& lookup)
{
    DesktopEnvironment env;
    if (auto dataHome = homeFolder(lookup, "XDG_DATA_HOME", ".local/share"))
        env.applicationFolders.push_back(*dataHome + "/applications");
    const auto dataDirs = nonEmpty(lookup, "XDG_DATA_DIRS");
    for (const std::string& folder :
         absoluteFolders(dataDirs.value_or("/usr/local/share:/usr/share")))
        env.applicationFolders.push_back(folder + "/applications");

    if (auto configHome = homeFolder(lookup, "XDG_CONFIG_HOME", ".config"))
        env.autostartFolders.push_back(*configHome + "/autostart");
    const auto configDirs = nonEmpty(lookup, "XDG_CONFIG_DIRS");
    for (const std::string& folder : absoluteFolders(configDirs.value_or("/etc/xdg")))
        env.autostartFolders.push_back(folder + "/autostart");

    env.programFolders =
        absoluteFolders(nonEmpty(lookup, "PATH").value_or("/usr/local/bin:/usr/bin:/bin"));

    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (auto value = nonEmpty(lookup, name)) {
            env.locale = std::move(*value);
            break;
        }
    env.display = nonEmpty(lookup, "DISPLAY").value_or("");
    return env;
}

DesktopEnvironment processDesktopEnvironment()
{
    return desktopEnvironmentFrom([](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
}

} // namespace corvel
