#pragma once

#include "attribution.h"
#include "group_cache.h"
#include "serial_worker.h"
#include "sources.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

namespace corvel {

// The observable model: the latest usage list and the machine's total CPU share, kept current
// by a sampling cycle at construction and then on every timer tick. Lives on the main thread;
// the snapshot and attribution run on a worker below the interface's priority.
class Monitor : public QObject
{
    Q_OBJECT

public:
    struct Sources
    {
        std::unique_ptr<ProcessSnapshotter> snapshot;
        std::unique_ptr<RunningApplications> running;
        double cores = 1;
        // Zero: no timer; cycles start only through refresh().
        std::chrono::milliseconds interval{2000};
    };

    static constexpr std::chrono::milliseconds defaultInterval{2000};

    // The real sources: /proc (or /bin/ps where /proc cannot be read), the given running
    // applications, the online processor count and the 2-second interval.
    static Sources systemSources(std::unique_ptr<RunningApplications> running);

    explicit Monitor(Sources sources, QObject* parent = nullptr);
    ~Monitor() override;

    const std::vector<AppUsage>& apps() const { return apps_; }
    double totalCPU() const { return totalCPU_; }
    double cores() const { return cores_; }
    // When sampling last failed while the figures above are those of the last good cycle;
    // none once a cycle succeeds again.
    std::optional<std::chrono::system_clock::time_point> staleSince() const { return staleSince_; }

    // Starts one cycle and returns at once. A cycle still in flight makes this a no-op that
    // returns false: cycles never overlap, so an older result never overwrites a newer one.
    // A regrouping in flight (setDetailed) is no cycle: this one follows it.
    bool refresh();
    bool cycleInFlight() const { return !snapshot_; }

    // While detailed, each application published carries its processes (AppUsage::processes);
    // the panel asks for them while it is open. Turned on, the last cycle's rows are grouped
    // again in detail and published, with the same figures, without waiting for the next one.
    void setDetailed(bool detailed);
    bool detailed() const { return detailed_; }

signals:
    // Emitted after a cycle's results are stored, both in the same main-thread step, apps
    // first: an observer of either sees the list and the total of the same cycle. A cycle
    // that failed stores nothing but staleSince(), and emits both as well.
    void appsChanged();
    void totalCPUChanged();

protected:
    bool event(QEvent* event) override;

private:
    bool startCycle(bool regroupOnly);
    void publish(std::optional<Grouping> result, std::optional<double> machineShare,
                 const std::string& failure);

    std::vector<AppUsage> apps_;
    double totalCPU_ = 0.0;
    std::optional<std::chrono::system_clock::time_point> staleSince_;
    std::set<std::string> failuresTold_; // each kind of failure goes to stderr once
    bool detailed_ = false;
    bool appsDetailed_ = false; // apps_ carry their processes
    bool regrouping_ = false;   // the job in flight regroups the last rows
    bool refreshAfter_ = false; // a cycle waits for that regrouping
    QTimer timer_;
    double cores_;
    std::unique_ptr<ProcessSnapshotter> snapshot_; // null while a cycle is in flight
    std::unique_ptr<RunningApplications> running_;
    std::unique_ptr<GroupCache> cache_ = std::make_unique<GroupCache>();
    std::atomic<unsigned> handedOver_{0}; // orders each finished cycle before its publication
    std::unique_ptr<SerialWorker> worker_ = std::make_unique<SerialWorker>();
};

} // namespace corvel
