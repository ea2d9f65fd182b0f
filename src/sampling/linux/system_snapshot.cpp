#include "system_snapshot.h"

#include "proc_dir.h"
#include "proc_sampler.h"
#include "ps_tool.h"

#include <fcntl.h>
#include <unistd.h>

namespace corvel {

std::unique_ptr<ProcessSnapshotter> makeSystemSnapshotter()
{
    // No /proc (or one we may not read): the process-status tool finds its own way.
    const UniqueFd self(::open("/proc/self/stat", O_RDONLY | O_CLOEXEC));
    char probe[512];
    if (self.valid() && readFromStart(self.get(), probe, sizeof probe) > 0)
        return std::make_unique<ProcSampler>();
    return std::make_unique<PSToolSnapshotter>();
}

double onlineProcessorCount()
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<double>(count) : 1.0;
}

} // namespace corvel
