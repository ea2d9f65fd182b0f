#include "monitor.h"
#include "system_snapshot.h"

namespace corvel {

Monitor::Sources Monitor::systemSources(std::unique_ptr<RunningApplications> running)
{
    Sources sources;
    sources.snapshot = makeSystemSnapshotter();
    sources.running = running ? std::move(running) : std::make_unique<NoRunningApplications>();
    sources.cores = onlineProcessorCount();
    sources.interval = defaultInterval;
    return sources;
}

} // namespace corvel
