#include "once.h"

#include "cycle.h"
#include "desktop_applications.h"
#include "system_snapshot.h"
#include "terminal_view.h"

namespace corvel {

int printOnce(bool json, std::FILE* out)
{
    auto snapshot = makeSystemSnapshotter();
    auto running = makeDesktopApplications();
    const double cores = onlineProcessorCount();
    const Grouping result = runCycle(*snapshot, *running);
    const double total = machineTotal(result.total, snapshot->machineShare(), cores);
    const std::string text =
        json ? renderJson(result.apps, total, cores) : renderText(result.apps, total);
    std::fwrite(text.data(), 1, text.size(), out);
    return std::fflush(out) == 0 ? 0 : 1;
}

} // namespace corvel
