#include "app_unit_of.h"

#include "cgroup_apps.h"
#include "small_file.h"
#include "unit_name.h"

#include <algorithm>

namespace corvel {

std::optional<UnitPlace> appUnitOfPath(std::string_view path, std::uint32_t uid)
{
    const auto prefix = userServicePrefix(path, uid);
    if (!prefix)
        return std::nullopt;
    std::optional<UnitPlace> found;
    for (std::size_t end = prefix->size(); end < path.size();) {
        const std::size_t start = end + 1;
        end = std::min(path.find('/', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        if (!name.starts_with("app-") || !(name.ends_with(".scope") || name.ends_with(".service")))
            continue;
        const auto unit = parseAppUnit(name);
        if (unit && unit->kind != AppUnit::Kind::launcher)
            found = UnitPlace{std::string(name), unit->id, std::string(path.substr(0, end))};
    }
    return found;
}

std::optional<UnitPlace> soleAppUnit(const std::vector<std::int32_t>& pids, std::string_view appId,
                                     const std::string& procRoot, const std::string& cgroupRoot,
                                     std::uint32_t uid)
{
    std::optional<UnitPlace> unit;
    for (std::int32_t pid : pids) {
        const auto text = readSmallFile(procRoot + "/" + std::to_string(pid) + "/cgroup", 1 << 16);
        const auto path = text ? unifiedCgroupPath(*text) : std::nullopt;
        auto place = path ? appUnitOfPath(*path, uid) : std::nullopt;
        if (!place || place->id != appId || (unit && unit->folder != place->folder))
            return std::nullopt;
        unit = std::move(place);
    }
    if (!unit)
        return std::nullopt;
    for (std::int32_t member : pidsInCgroup(cgroupRoot + unit->folder))
        if (std::find(pids.begin(), pids.end(), member) == pids.end())
            return std::nullopt;
    return unit;
}

} // namespace corvel
