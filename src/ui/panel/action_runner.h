#pragma once

#include "action_subject.h"
#include "app_unit_of.h"
#include "exit_watch.h"
#include "process_target.h"

#include <chrono>
#include <memory>
#include <optional>

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace corvel {

class UnitControl;
class WindowCloser;

// Quit and Force Quit for one application: its processes are held when the actions open, and
// only those (or its own unit) are ever signalled.
class ActionRunner : public QObject
{
    Q_OBJECT

public:
    enum class Refusal {
        none,
        system,    // "System & Background" is no application
        own,       // Corvel's own row: the panel's own Quit is for that
        otherUser, // a process of someone else
        ended,     // nothing of it runs any more
        unheld,    // some of its processes could not be held: no action could reach them all
    };
    enum class Outcome { quit, stillRunning, notPermitted };

    static constexpr std::chrono::milliseconds patience{5000};

    // Either may be null: no window closing, no service manager.
    ActionRunner(WindowCloser* closer, UnitControl* units, QObject* parent = nullptr);
    ~ActionRunner() override;

    // Holds the subject's processes and says whether it may be quit.
    Refusal open(const ActionSubject& subject);
    // Forgets the subject; an outcome still awaited is not reported, a Quit confirmed still
    // happens.
    void release();

    const ActionSubject& subject() const { return subject_; }
    const ProcessTarget& target() const { return *target_; }
    const std::optional<UnitPlace>& unit() const { return unit_; }

    // Quit's gentle way: close requests for its windows. False when none could be sent; then
    // the caller confirms and calls stop().
    bool requestClose();
    // Stops its unit, else sends SIGTERM to its processes.
    void stop();
    // SIGKILL to every held process, and to its unit for those started since.
    void forceStop();

    void setPatience(std::chrono::milliseconds wait) { patience_ = wait; }

signals:
    // `remaining`: held processes still running.
    void finished(ActionRunner::Outcome outcome, int remaining);

private:
    void signalAll(int signal);
    void watch();
    void finish(Outcome outcome);

    WindowCloser* closer_;
    UnitControl* units_;
    std::string cgroupRoot_;
    ActionSubject subject_;
    // Shared with an answer of the service manager still awaited, which may outlive the subject.
    std::shared_ptr<const ProcessTarget> target_ = std::make_shared<ProcessTarget>();
    std::optional<UnitPlace> unit_;
    std::unique_ptr<ExitWatch> watch_;
    QSocketNotifier* ended_ = nullptr;
    QTimer* deadline_;
    std::chrono::milliseconds patience_ = patience;
    int generation_ = 0; // answers for a released subject are dropped
};

} // namespace corvel
