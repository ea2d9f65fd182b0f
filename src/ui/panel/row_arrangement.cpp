#include "row_arrangement.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace corvel {
namespace {

constexpr char keySeparator = '\x1f';

bool stillFading(const ListEntry& entry, ListClock::time_point now)
{
    return now - entry.endedAt.value_or(now) < fadeTime;
}

ListEntry processLine(const AppUsage& app, const ProcessUsage& process)
{
    ListEntry line;
    line.kind = ListEntry::Kind::process;
    line.key = app.id + keySeparator + std::to_string(process.pid);
    line.appId = app.id;
    line.process = process;
    return line;
}

// The lines under one unfolded application. `before`: the lines it had, in order.
void appendLines(std::vector<ListEntry>& list, const ListEntry& row,
                 const std::vector<const ListEntry*>& before, bool held, ListClock::time_point now)
{
    if (row.endedAt) { // an application that ended takes its lines with it
        for (const ListEntry* line : before) {
            if (stillFading(*line, now)) {
                list.push_back(*line);
                list.back().endedAt = line->endedAt.value_or(*row.endedAt);
            }
        }
        return;
    }
    static const std::vector<ProcessUsage> none;
    const AppUsage& app = row.app;
    const std::vector<ProcessUsage>& processes = app.processes ? *app.processes : none;
    const std::size_t room = app.id == systemEntryId ? systemLines : processes.size();
    std::unordered_set<std::int32_t> placed;
    if (held) {
        std::unordered_map<std::int32_t, const ProcessUsage*> alive;
        for (const ProcessUsage& process : processes)
            alive.emplace(process.pid, &process);
        for (const ListEntry* line : before) {
            if (line->kind != ListEntry::Kind::process)
                continue;
            if (const auto it = alive.find(line->process.pid); it != alive.end()) {
                list.push_back(processLine(app, *it->second));
                placed.insert(line->process.pid);
            } else if (stillFading(*line, now)) {
                list.push_back(*line);
                list.back().endedAt = line->endedAt.value_or(now);
            }
        }
    }
    for (const ProcessUsage& process : processes) {
        if (placed.size() >= room)
            break;
        if (placed.insert(process.pid).second)
            list.push_back(processLine(app, process));
    }
    if (processes.size() > placed.size()) {
        ListEntry more;
        more.kind = ListEntry::Kind::more;
        more.key = app.id + keySeparator + '+';
        more.appId = app.id;
        more.more = static_cast<std::int64_t>(processes.size() - placed.size());
        list.push_back(std::move(more));
    }
}

} // namespace

std::vector<ListEntry> arrangeList(const std::vector<ListEntry>& shown,
                                   const std::vector<AppUsage>& published,
                                   const std::set<std::string, std::less<>>& unfolded,
                                   ListHolds holds, ListClock::time_point now)
{
    const auto row = [](const AppUsage& app) {
        ListEntry entry;
        entry.key = app.id;
        entry.appId = app.id;
        entry.app = app;
        return entry;
    };
    std::vector<ListEntry> rows;
    rows.reserve(published.size());
    if (holds.rows) {
        std::unordered_map<std::string_view, const AppUsage*> byId;
        for (const AppUsage& app : published)
            byId.emplace(app.id, &app);
        std::unordered_set<std::string_view> placed;
        for (const ListEntry& entry : shown) {
            if (entry.kind != ListEntry::Kind::app)
                continue;
            if (const auto it = byId.find(entry.key); it != byId.end()) {
                rows.push_back(row(*it->second));
                placed.insert(it->first);
            } else if (stillFading(entry, now)) {
                rows.push_back(entry);
                rows.back().endedAt = entry.endedAt.value_or(now);
            }
        }
        for (const AppUsage& app : published)
            if (!placed.contains(app.id))
                rows.push_back(row(app));
    } else {
        for (const AppUsage& app : published)
            rows.push_back(row(app));
    }
    if (unfolded.empty())
        return rows;

    std::unordered_map<std::string_view, std::vector<const ListEntry*>> linesBefore;
    for (const ListEntry& entry : shown)
        if (entry.kind != ListEntry::Kind::app && unfolded.contains(entry.appId))
            linesBefore[entry.appId].push_back(&entry);
    static const std::vector<const ListEntry*> noLines;
    std::vector<ListEntry> list;
    list.reserve(rows.size());
    for (ListEntry& entry : rows) {
        if (!unfolded.contains(entry.appId)) {
            list.push_back(std::move(entry));
            continue;
        }
        const auto before = linesBefore.find(entry.appId);
        list.push_back(entry);
        appendLines(list, entry, before == linesBefore.end() ? noLines : before->second,
                    holds.lines, now);
    }
    return list;
}

} // namespace corvel
