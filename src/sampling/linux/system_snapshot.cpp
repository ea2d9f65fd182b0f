#include "system_snapshot.h"

#include <unistd.h>

namespace corvel {

std::unique_ptr<ProcessSnapshotter> makeSystemSnapshotter()
{
    return std::make_unique<PSToolSnapshotter>();
}

double onlineProcessorCount()
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<double>(count) : 1.0;
}

} // namespace corvel
