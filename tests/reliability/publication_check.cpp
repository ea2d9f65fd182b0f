#include "publication_check.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

namespace corvel::testing {
namespace {

bool near(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    // The list's sums are taken in another order than the snapshot's.
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// Whether `b` may follow `a` in the list.
bool ordered(const AppUsage& a, const AppUsage& b)
{
    if (std::isnan(a.cpu))
        return std::isnan(b.cpu);
    if (std::isnan(b.cpu))
        return true;
    return a.cpu > b.cpu || (a.cpu == b.cpu && a.memoryKB >= b.memoryKB);
}

} // namespace

std::vector<std::string> publicationProblems(const std::vector<AppUsage>& apps, double totalCPU,
                                             double cores, const CycleRecord& cycle)
{
    std::vector<std::string> problems;
    const auto note = [&](const auto&... parts) {
        std::ostringstream text;
        (text << ... << parts);
        problems.push_back(text.str());
    };

    std::set<std::string> ids;
    std::int64_t processes = 0;
    double cpu = 0;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const AppUsage& app = apps[i];
        if (!ids.insert(app.id).second)
            note("id \"", app.id, "\" appears twice");
        if (app.processCount < 1)
            note("entry \"", app.id, "\" counts ", app.processCount, " processes");
        if (i > 0 && !ordered(apps[i - 1], app))
            note("entry ", i, " (\"", app.id, "\", cpu ", app.cpu, ", ", app.memoryKB,
                 " KiB) out of order after \"", apps[i - 1].id, "\" (cpu ", apps[i - 1].cpu, ", ",
                 apps[i - 1].memoryKB, " KiB)");
        processes += app.processCount;
        cpu += app.cpu;
    }
    if (!(totalCPU >= 0 && totalCPU <= 100))
        note("total ", totalCPU, " is outside 0 to 100");
    if (processes != static_cast<std::int64_t>(cycle.rows))
        note("process counts add up to ", processes, " for a snapshot of ", cycle.rows, " rows");
    if (!near(cpu, cycle.cpuSum))
        note("entries' cpu adds up to ", cpu, " for a snapshot whose rows add up to ",
             cycle.cpuSum);
    const double share = cycle.cpuSum / cores;
    const double expected = std::isnan(share) ? 100.0 : std::min(share, 100.0);
    if (!near(totalCPU, expected))
        note("total ", totalCPU, " is not the machine's share ", expected, " of the cycle's ",
             cycle.cpuSum);
    return problems;
}

} // namespace corvel::testing
