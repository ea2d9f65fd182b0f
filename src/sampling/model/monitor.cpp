#include "monitor.h"

#include "cycle.h"

#include <cstdio>
#include <exception>
#include <utility>

#include <QCoreApplication>
#include <QEvent>

namespace corvel {
namespace {

// What travels to the worker and back with one cycle.
struct CycleJob
{
    std::unique_ptr<ProcessSnapshotter> snapshot;
    std::unique_ptr<RunningApplications> running;
    std::unique_ptr<GroupCache> cache;
    bool regroupOnly = false; // the last rows again, no snapshot
    bool detailed = false;
    std::optional<Grouping> result; // none when the cycle failed or had nothing to regroup
    std::optional<double> machineShare;
    bool failed = false;
    std::string failure; // what went wrong
};

// Carries a finished cycle to the main thread. A posted event (rather than a queued functor)
// is handed over under the event queue's lock and deleted by the receiving thread alone.
class CycleDoneEvent final : public QEvent
{
public:
    static QEvent::Type kind()
    {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    explicit CycleDoneEvent(std::shared_ptr<CycleJob> finished)
        : QEvent(kind()), job(std::move(finished))
    {}
    std::shared_ptr<CycleJob> job;
};

} // namespace

Monitor::Monitor(Sources sources, QObject* parent)
    : QObject(parent), cores_(sources.cores), snapshot_(std::move(sources.snapshot)),
      running_(std::move(sources.running))
{
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
    worker_.reset();
}

bool Monitor::refresh()
{
    if (regrouping_)
        return refreshAfter_ = true;
    return startCycle(false);
}

void Monitor::setDetailed(bool detailed)
{
    detailed_ = detailed;
    if (detailed_ && !appsDetailed_)
        startCycle(true); // in flight: the cycle's publication starts it
}

bool Monitor::startCycle(bool regroupOnly)
{
    if (!snapshot_ || !running_)
        return false;
    auto job = std::make_shared<CycleJob>();
    job->regroupOnly = regrouping_ = regroupOnly;
    job->detailed = detailed_;
    job->snapshot = std::move(snapshot_);
    job->running = std::move(running_);
    job->cache = std::move(cache_);
    worker_->post([this, job] {
        // Nothing thrown may end the worker: a failure of any kind is told and shown as such.
        try {
            job->result = job->regroupOnly
                              ? job->cache->regroup(job->detailed)
                              : runCycle(*job->snapshot, *job->running, *job->cache, job->detailed);
            job->machineShare = job->snapshot->machineShare();
        } catch (const std::exception& error) {
            job->result.reset();
            job->failed = true;
            job->failure = error.what();
        } catch (...) {
            job->result.reset();
            job->failed = true;
            job->failure = "an exception of no standard type";
        }
        if (job->failed)
            job->cache = std::make_unique<GroupCache>(); // it may have stopped half way
        auto* done = new CycleDoneEvent(job);
        // Qt's event queue synchronises the hand-over, but in code sanitizers cannot see;
        // this release, acquired in event(), states the same order where they can.
        handedOver_.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(this, done);
    });
    return true;
}

bool Monitor::event(QEvent* event)
{
    handedOver_.load(std::memory_order_acquire);
    if (event->type() != CycleDoneEvent::kind())
        return QObject::event(event);
    CycleJob& job = *static_cast<CycleDoneEvent*>(event)->job;
    snapshot_ = std::move(job.snapshot);
    running_ = std::move(job.running);
    cache_ = std::move(job.cache);
    regrouping_ = false;
    // Nothing to regroup yet: the next cycle is detailed.
    if (!job.regroupOnly || job.failed || job.result) {
        if (job.result)
            appsDetailed_ = job.detailed;
        publish(std::move(job.result), job.machineShare, job.failure);
    }
    if (std::exchange(refreshAfter_, false))
        startCycle(false);
    else if (detailed_ && !appsDetailed_ && !staleSince_)
        startCycle(true);
    return true;
}

void Monitor::publish(std::optional<Grouping> result, std::optional<double> machineShare,
                      const std::string& failure)
{
    if (result) {
        apps_ = std::move(result->apps);
        totalCPU_ = machineTotal(result->total, machineShare, cores_);
        staleSince_.reset();
    } else {
        // An empty list and 0 would read as an idle machine: the last figures stay, marked.
        if (!staleSince_)
            staleSince_ = std::chrono::system_clock::now();
        if (failuresTold_.insert(failure).second)
            std::fprintf(stderr,
                         "corvel: sampling failed (%s); the figures shown are the last good ones\n",
                         failure.c_str());
    }
    emit appsChanged();
    emit totalCPUChanged();
}

} // namespace corvel
