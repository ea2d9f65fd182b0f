// Which entries the list shows in which order, on a clock of the test's own.
#include "row_arrangement.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using namespace corvel;
using namespace std::chrono_literals;

// An application whose processes are `pids`, busiest first.
AppUsage app(const std::string& id, std::vector<std::int32_t> pids = {})
{
    auto processes = std::make_shared<std::vector<ProcessUsage>>();
    for (const std::int32_t pid : pids)
        processes->push_back({pid, "p" + std::to_string(pid), 0, 0});
    return {id, id, nullptr, 0, 0, static_cast<std::int64_t>(pids.size()), std::move(processes)};
}

// Keys with "/" for the separator, "~" after one fading, "+N" for the line that counts the rest.
std::string render(const std::vector<ListEntry>& list)
{
    std::string text;
    for (const ListEntry& e : list) {
        std::string key = e.key;
        std::replace(key.begin(), key.end(), '\x1f', '/');
        text += (text.empty() ? "" : " ") + key + (e.endedAt ? "~" : "");
        if (e.kind == ListEntry::Kind::more)
            text += std::to_string(e.more);
    }
    return text;
}

// Each step publishes a list to the list shown by the step before, at its own time.
TEST(ArrangeList, HeldOrdersFadesAndTheLinesOfUnfoldedRows)
{
    std::vector<std::int32_t> busy(25);
    for (std::int32_t i = 0; i < 25; ++i)
        busy[static_cast<std::size_t>(i)] = 100 + i;
    std::vector<std::int32_t> shifted(busy.begin() + 3, busy.end());
    shifted.insert(shifted.begin() + 1, 99);
    const auto t0 = ListClock::now();
    struct Step
    {
        std::vector<AppUsage> published;
        std::set<std::string, std::less<>> unfolded;
        ListHolds holds;
        ListClock::duration at;
        const char* shown;
    };
    // clang-format off
    const Step steps[] = {
        {{app("a", {1, 2}), app("b"), app("c")}, {}, {}, 0ms, "a b c"},
        {{app("c"), app("b", {5}), app("a", {1, 2})}, {"a"}, {}, 0ms, "c b a a/1 a/2"},
        // Held: the rows stay, a new one joins at the end, one that ended fades where it was.
        {{app("d"), app("a", {2, 1}), app("c")}, {"a"}, {true, false}, 0ms, "c b~ a a/2 a/1 d"},
        {{app("d"), app("a", {3, 2}), app("c")}, {"a"}, {true, true}, 100ms,
         "c b~ a a/2 a/1~ a/3 d"},
        // The fade ends; an application that ended takes its lines with it.
        {{app("d"), app("c")}, {"a"}, {true, true}, fadeTime + 10ms, "c a~ a/2~ a/1~ a/3~ d"},
        {{app("d"), app("c")}, {"a"}, {true, true}, fadeTime + 105ms, "c a~ a/2~ a/3~ d"},
        {{app("d"), app("c")}, {"a"}, {true, true}, 2 * fadeTime + 20ms, "c d"},
        // "System & Background": its busiest, then a line for the rest; held, those shown stay.
        {{app("c"), app("__system", busy)}, {"__system"}, {}, 0ms,
         "c __system __system/100 __system/101 __system/102 __system/103 __system/104 "
         "__system/105 __system/106 __system/107 __system/108 __system/109 __system/110 "
         "__system/111 __system/112 __system/113 __system/114 __system/115 __system/116 "
         "__system/117 __system/118 __system/119 __system/+5"},
        {{app("__system", shifted), app("c")}, {"__system"}, {true, true}, 0ms,
         "c __system __system/100~ __system/101~ __system/102~ __system/103 __system/104 "
         "__system/105 __system/106 __system/107 __system/108 __system/109 __system/110 "
         "__system/111 __system/112 __system/113 __system/114 __system/115 __system/116 "
         "__system/117 __system/118 __system/119 __system/99 __system/120 __system/121 "
         "__system/+3"},
        // Let go: as published at once.
        {{app("__system", {7}), app("c")}, {"__system"}, {}, 0ms, "__system __system/7 c"},
    };
    // clang-format on
    std::vector<ListEntry> shown;
    for (const Step& step : steps) {
        shown = arrangeList(shown, step.published, step.unfolded, step.holds, t0 + step.at);
        EXPECT_EQ(render(shown), step.shown);
    }
}

} // namespace
