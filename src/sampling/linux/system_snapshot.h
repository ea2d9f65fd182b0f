#pragma once

#include "sources.h"

#include <memory>

namespace corvel {

// The best process-table source this system has: the /proc reader where /proc can be read,
// else the process-status tool.
std::unique_ptr<ProcessSnapshotter> makeSystemSnapshotter();

// Processors online now, at least 1.
double onlineProcessorCount();

} // namespace corvel
