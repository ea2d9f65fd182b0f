#include "entry_table.h"

namespace corvel {

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void EntryTable::add(std::string id, DesktopEntry entry)
{
    const auto [it, inserted] = entries_.try_emplace(id, std::move(entry));
    if (!inserted)
        return;
    order_.push_back(id);
    const DesktopEntry& added = it->second;
    if (added.hidden || !added.application)
        return;
    if (added.startupWMClass)
        byWMClass_.try_emplace(*added.startupWMClass, id);
    byLowerId_.try_emplace(asciiLower(id), id);
}

const DesktopEntry* EntryTable::usable(const std::string& id) const
{
    const auto it = entries_.find(id);
    if (it == entries_.end() || it->second.hidden || !it->second.application)
        return nullptr;
    return &it->second;
}

const DesktopEntry* EntryTable::find(std::string_view id) const
{
    return usable(std::string(id));
}

std::optional<EntryTable::Match>
EntryTable::matchFrom(const std::unordered_map<std::string, std::string>& map,
                      const std::string& key) const
{
    if (key.empty())
        return std::nullopt;
    const auto it = map.find(key);
    if (it == map.end())
        return std::nullopt;
    return Match{it->second, usable(it->second)};
}

std::optional<EntryTable::Match> EntryTable::matchWindow(std::string_view wmClass,
                                                         std::string_view wmInstance) const
{
    const std::string cls(wmClass);
    const std::string instance(wmInstance);
    if (auto m = matchFrom(byWMClass_, cls))
        return m;
    if (auto m = matchFrom(byWMClass_, instance))
        return m;
    if (auto m = matchFrom(byLowerId_, asciiLower(cls)))
        return m;
    return matchFrom(byLowerId_, asciiLower(instance));
}

} // namespace corvel
