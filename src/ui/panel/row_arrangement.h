#pragma once

// What the panel's list shows, in which order: the applications of the latest publication,
// under each unfolded one its processes, and, while the user is at the list, the order they
// last saw.

#include "attribution.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvel {

using ListClock = std::chrono::steady_clock;

// Lines of "System & Background" shown unfolded, its busiest first; a line counts the rest.
inline constexpr std::size_t systemLines = 20;
// How long an entry that ended stays, fading out, while the order is held.
inline constexpr std::chrono::milliseconds fadeTime{400};

// One line of the list: an application's row, one of its processes under its unfolded row,
// or the line that counts the processes not listed.
struct ListEntry
{
    enum class Kind { app, process, more };
    Kind kind = Kind::app;
    std::string key;   // unique in a list: the id; "<id>\x1f<pid>"; "<id>\x1f+"
    std::string appId; // the application it belongs to
    AppUsage app;      // app: the row's figures, and its processes
    ProcessUsage process;
    std::int64_t more = 0;                        // more: the processes not listed
    std::optional<ListClock::time_point> endedAt; // gone from the publication: fading since
};

struct ListHolds
{
    bool rows = false;  // applications keep the order shown; new ones join at the end
    bool lines = false; // so do the processes under unfolded rows
};

// The list for `published` (in the order shown), with the processes of the applications
// in `unfolded`. While held, entries of `shown` keep their places; those that ended stay,
// fading, for fadeTime after `now` first found them gone. Not held, the list is as published.
std::vector<ListEntry> arrangeList(const std::vector<ListEntry>& shown,
                                   const std::vector<AppUsage>& published,
                                   const std::set<std::string, std::less<>>& unfolded,
                                   ListHolds holds, ListClock::time_point now);

} // namespace corvel
