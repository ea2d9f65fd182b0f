#pragma once

#include "sources.h"

#include <memory>

namespace corvel {

// The running applications of the current user's desktop session.
std::unique_ptr<RunningApplications> makeDesktopApplications();

} // namespace corvel
