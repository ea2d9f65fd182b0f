#pragma once

#include "process_target.h"
#include "unique_fd.h"

namespace corvel {

// Waits for the held processes of a target to end without polling them: one descriptor that
// reads as ready whenever one of them has ended. The target must outlive the watch.
class ExitWatch
{
public:
    explicit ExitWatch(const ProcessTarget& target);

    // For the event loop: ready to read when a process has ended since the last `collect()`.
    int fd() const { return epoll_.get(); }
    // Takes in the processes that have ended; how many are still running.
    int collect();
    int remaining() const { return remaining_; }

private:
    UniqueFd epoll_;
    int remaining_ = 0;
};

} // namespace corvel
