#include "serial_worker.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace corvel {
namespace {

// On Linux a nice value set with a thread's id applies to that thread alone.
void lowerThisThreadsPriority()
{
#if defined(__linux__)
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
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
