#include "desktop_applications.h"

namespace corvel {

std::unique_ptr<RunningApplications> makeDesktopApplications()
{
    return std::make_unique<NoRunningApplications>();
}

} // namespace corvel
