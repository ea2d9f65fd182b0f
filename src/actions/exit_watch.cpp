#include "exit_watch.h"

#include <array>
#include <sys/epoll.h>

namespace corvel {

ExitWatch::ExitWatch(const ProcessTarget& target) : epoll_(::epoll_create1(EPOLL_CLOEXEC))
{
    for (const HeldProcess& process : target.processes()) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = process.fd.get();
        if (epoll_.valid() && ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, event.data.fd, &event) == 0)
            ++remaining_;
    }
}

int ExitWatch::collect()
{
    std::array<epoll_event, 64> events{};
    for (int count = 0; remaining_ > 0; remaining_ -= count) {
        count = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), 0);
        if (count <= 0)
            break;
        // An ended process stays ready: it leaves the set so that it is counted once.
        for (int i = 0; i < count; ++i)
            ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, events[static_cast<std::size_t>(i)].data.fd,
                        nullptr);
    }
    return remaining_;
}

} // namespace corvel
