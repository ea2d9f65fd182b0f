#pragma once

#include "action_subject.h"

namespace corvel {

// Asks an application's windows to close, as their own close buttons do.
class WindowCloser
{
public:
    virtual ~WindowCloser() = default;
    // The number of close requests sent: 0 when the desktop offers no way or there is no window.
    virtual int closeWindowsOf(const ActionSubject& subject) = 0;
};

} // namespace corvel
