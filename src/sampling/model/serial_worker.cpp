#include "serial_worker.h"

#include <algorithm>
#include <cerrno>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace corvel {
namespace {

// On Linux a nice value set with a thread's id applies to that thread alone. The step is taken
// from the nice value the thread inherited, so that a program started with `nice` still samples
// below its interface.
void lowerThisThreadsPriority()
{
#if defined(__linux__)
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int inherited = getpriority(PRIO_PROCESS, self);
    setpriority(PRIO_PROCESS, self, std::min(19, (errno == 0 ? inherited : 0) + 10));
#endif
}

} // namespace

SerialWorker::SerialWorker() : thread_([this] { run(); }) {}

SerialWorker::~SerialWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_ = nullptr;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialWorker::post(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(job);
    }
    wake_.notify_one();
}

void SerialWorker::run()
{
    lowerThisThreadsPriority();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_)
                return;
            job = std::move(pending_);
            pending_ = nullptr;
        }
        job();
    }
}

} // namespace corvel
