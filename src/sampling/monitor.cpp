#include "monitor.h"

#include "cycle.h"

#include <exception>
#include <utility>

#include <QMetaObject>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace corvel {
namespace {

// Sampling should yield to the interface and to the user's work. On Linux a nice value set
// with the thread's id applies to that thread alone.
void lowerWorkerPriority()
{
#if defined(__linux__)
    thread_local bool lowered = false;
    if (!lowered) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        lowered = true;
    }
#endif
}

// What travels to the worker and back with one cycle.
struct CycleJob
{
    std::unique_ptr<ProcessSnapshotter> snapshot;
    std::unique_ptr<RunningApplications> running;
    Grouping result;
};

} // namespace

Monitor::Monitor(Sources sources, QObject* parent)
    : QObject(parent), cores_(sources.cores), snapshot_(std::move(sources.snapshot)),
      running_(std::move(sources.running))
{
    worker_.setMaxThreadCount(1);
    worker_.setExpiryTimeout(-1); // keep the one worker thread instead of a new one per cycle
    refresh();
    if (sources.interval.count() > 0) {
        timer_.setInterval(sources.interval);
        connect(&timer_, &QTimer::timeout, this, &Monitor::refresh);
        timer_.start();
    }
}

Monitor::~Monitor()
{
    timer_.stop();
    // A cycle in flight refers to this object until it has posted its result; the posted
    // result itself dies with the object.
    worker_.waitForDone();
}

bool Monitor::refresh()
{
    if (!snapshot_ || !running_)
        return false;
    auto job = std::make_shared<CycleJob>();
    job->snapshot = std::move(snapshot_);
    job->running = std::move(running_);
    worker_.start([this, job] {
        lowerWorkerPriority();
        try {
            job->result = runCycle(*job->snapshot, *job->running);
        } catch (const std::exception&) {
            job->result = {}; // a failed cycle publishes an empty list and 0
        }
        QMetaObject::invokeMethod(
            this,
            [this, job] {
                publish(std::move(job->result), std::move(job->snapshot), std::move(job->running));
            },
            Qt::QueuedConnection);
    });
    return true;
}

void Monitor::publish(Grouping result, std::unique_ptr<ProcessSnapshotter> snapshot,
                      std::unique_ptr<RunningApplications> running)
{
    snapshot_ = std::move(snapshot);
    running_ = std::move(running);
    apps_ = std::move(result.apps);
    totalCPU_ = scaleTotal(result.total, cores_);
    emit appsChanged();
    emit totalCPUChanged();
}

} // namespace corvel
