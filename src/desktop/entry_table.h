#pragma once

#include "desktop_entry.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel {

// The desktop entries of the applications folders by desktop file id, in the order of the
// folders' priority, and the rules that map an application or a window to one of them.
class EntryTable
{
public:
    struct Match
    {
        std::string id; // desktop file id without ".desktop"
        const DesktopEntry* entry = nullptr;
    };

    // Adds the entry found at `id` unless a folder of higher priority already had one: the
    // first one wins, even when it is hidden.
    void add(std::string id, DesktopEntry entry);

    // The entry of an id; nothing when absent, Hidden=true or not an application.
    const DesktopEntry* find(std::string_view id) const;

    // The entry of a window: StartupWMClass equal to the WM_CLASS class, then to the instance;
    // then a desktop id equal to the class, then to the instance, ignoring case.
    std::optional<Match> matchWindow(std::string_view wmClass, std::string_view wmInstance) const;

    std::size_t size() const { return order_.size(); }
    // Every id added, best folder first (find() says which are usable).
    const std::vector<std::string>& ids() const { return order_; }

private:
    const DesktopEntry* usable(const std::string& id) const;
    std::optional<Match> matchFrom(const std::unordered_map<std::string, std::string>& map,
                                   const std::string& key) const;

    std::unordered_map<std::string, DesktopEntry> entries_;
    std::vector<std::string> order_; // ids, best folder first
    // Keys to the first usable id, in folder priority order.
    std::unordered_map<std::string, std::string> byWMClass_;
    std::unordered_map<std::string, std::string> byLowerId_;
};

std::string asciiLower(std::string_view text);

} // namespace corvel
