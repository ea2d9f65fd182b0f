#include "action_runner.h"

#include "attribution.h"
#include "cgroup_apps.h"
#include "small_file.h"
#include "unit_control.h"
#include "window_closer.h"

#include <algorithm>
#include <csignal>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

namespace corvel {

ActionRunner::ActionRunner(WindowCloser* closer, UnitControl* units, QObject* parent)
    : QObject(parent), closer_(closer), units_(units), deadline_(new QTimer(this))
{
    cgroupRoot_ =
        cgroup2MountPoint(readSmallFile("/proc/self/mountinfo", 1 << 20).value_or("")).value_or("");
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        finish(watch_ && watch_->collect() == 0 ? Outcome::quit : Outcome::stillRunning);
    });
}

ActionRunner::~ActionRunner() = default;

ActionRunner::Refusal ActionRunner::open(const ActionSubject& subject)
{
    release();
    subject_ = subject;
    if (subject.appId == systemEntryId)
        return Refusal::system;
    const auto& pids = subject.pids;
    if (std::find(pids.begin(), pids.end(), ::getpid()) != pids.end())
        return Refusal::own;
    target_ = std::make_shared<ProcessTarget>(ProcessTarget::hold(pids));
    if (target_->missed() > 0)
        return Refusal::unheld;
    if (target_->empty())
        return Refusal::ended;
    if (target_->anyOwnedByOtherThan(::getuid()))
        return Refusal::otherUser;
    std::vector<std::int32_t> held;
    for (const HeldProcess& process : target_->processes())
        held.push_back(process.pid);
    if (!cgroupRoot_.empty())
        unit_ = soleAppUnit(held, subject.appId, "/proc", cgroupRoot_, ::getuid());
    return Refusal::none;
}

void ActionRunner::release()
{
    ++generation_;
    deadline_->stop();
    delete ended_;
    ended_ = nullptr;
    watch_.reset();
    unit_.reset();
    target_ = std::make_shared<ProcessTarget>();
    subject_ = {};
}

bool ActionRunner::requestClose()
{
    if (!closer_ || closer_->closeWindowsOf(subject_) == 0)
        return false;
    watch();
    return true;
}

void ActionRunner::stop()
{
    if (!unit_ || !units_) {
        signalAll(SIGTERM);
        return;
    }
    // A manager that refuses leaves the processes to their signals, also once the panel has
    // closed: the user confirmed Quit. Only the subject still open hears how it ended.
    units_->stopUnit(unit_->name, [self = QPointer(this), generation = generation_,
                                   target = target_](bool accepted) {
        if (!self || self->generation_ != generation) {
            if (!accepted)
                target->signal(SIGTERM);
        } else if (accepted) {
            self->watch();
        } else {
            self->signalAll(SIGTERM);
        }
    });
}

void ActionRunner::forceStop()
{
    if (unit_ && units_) // reaches what the application started since; the answer adds nothing
        units_->killUnit(unit_->name, SIGKILL, [](bool) {});
    signalAll(SIGKILL);
}

void ActionRunner::signalAll(int signal)
{
    if (target_->signal(signal).refused > 0) {
        finish(Outcome::notPermitted);
        return;
    }
    watch();
}

void ActionRunner::watch()
{
    delete ended_;
    watch_ = std::make_unique<ExitWatch>(*target_);
    ended_ = new QSocketNotifier(watch_->fd(), QSocketNotifier::Read, this);
    connect(ended_, &QSocketNotifier::activated, this, [this] {
        if (watch_->collect() == 0)
            finish(Outcome::quit);
    });
    deadline_->start(patience_);
    if (watch_->collect() == 0)
        finish(Outcome::quit);
}

void ActionRunner::finish(Outcome outcome)
{
    deadline_->stop();
    if (ended_)
        ended_->setEnabled(false);
    emit finished(outcome,
                  watch_ ? watch_->remaining() : static_cast<int>(target_->running().size()));
}

} // namespace corvel
