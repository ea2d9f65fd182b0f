// A row's actions on real processes: held by pidfd, quit through a unit or by signals,
// refused where they must be. CI is root; elsewhere the cases skip.
#include "action_overlay.h"
#include "cgroup_apps.h"
#include "small_file.h"
#include "support/idle_children.h"
#include "support/require.h"
#include "support/test_cgroup.h"
#include "systemd_user_units.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using namespace corvel;
using corvel::testing::IdleChildren;
using corvel::testing::TestCgroup;

constexpr const char* unitName = "app-corveltest-7.scope";

// The user manager's calls that the actions make, on the test's bus: each is recorded and,
// as the manager would, signals every process of the unit's cgroup. A stop may be held
// unanswered instead, for the test to answer.
class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")

public:
    QString folder;
    QStringList calls;
    bool holdStop = false;
    QDBusMessage heldStop;

public slots:
    QDBusObjectPath StopUnit(const QString& name, const QString& mode)
    {
        calls << QStringLiteral("StopUnit %1 %2").arg(name, mode);
        if (holdStop) {
            setDelayedReply(true);
            heldStop = message();
            return {};
        }
        signalUnit(SIGTERM);
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"));
    }
    void KillUnit(const QString& name, const QString& who, int signal)
    {
        calls << QStringLiteral("KillUnit %1 %2 %3").arg(name, who).arg(signal);
        signalUnit(signal);
    }

private:
    void signalUnit(int signal)
    {
        for (std::int32_t pid : pidsInCgroup(folder.toStdString()))
            ::kill(pid, signal);
    }
};

class ActionsTest : public ::testing::Test
{
protected:
    ActionsTest() : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "manager"))
    {
        bus.registerObject("/org/freedesktop/systemd1", &manager, QDBusConnection::ExportAllSlots);
        bus.registerService("org.freedesktop.systemd1");
        panel.show();
    }
    ~ActionsTest() override { QDBusConnection::disconnectFromBus("manager"); }

    QPushButton* button(const QString& text)
    {
        for (auto* candidate : overlay.findChildren<QPushButton*>())
            if (candidate->text().replace("&&", "&") == text && candidate->isVisible())
                return candidate;
        return nullptr;
    }
    void click(const QString& text)
    {
        QPushButton* target = button(text);
        ASSERT_TRUE(target) << qPrintable(text + " not offered at " + overlay.message());
        QTest::mouseClick(target, Qt::LeftButton);
    }
    void awaitMessage(const QString& text)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return overlay.message().startsWith(text); }, 20000))
            << overlay.message().toStdString();
    }

    QDBusConnection bus;
    FakeManager manager;
    SystemdUserUnits units;
    QWidget panel;
    ActionOverlay overlay{nullptr, &units, &panel};
    IdleChildren children;
};

// An application whose child ignores SIGTERM: Quit leaves the child and says so; Force Quit
// ends it. With its own app unit, through the manager; in a plain cgroup, or in a unit that
// also holds a process of no row of its, by signals to its own processes only. A manager that
// refuses to stop the unit after the panel closed: the processes get SIGTERM all the same, and
// the closed panel hears nothing of it.
TEST_F(ActionsTest, QuitLeavesWhatIgnoresItAndForceQuitEndsIt)
{
    enum Place { plain, unit, sharedUnit, refusingUnit };
    for (const Place place : {plain, unit, sharedUnit, refusingUnit}) {
        SCOPED_TRACE(place);
        TestCgroup group("place" + std::to_string(place));
        if (group.path().empty())
            CORVEL_SKIP_TEST("root", group.why());
        const std::string folder = place == plain
                                       ? group.path()
                                       : group.nest("user@" + std::to_string(::getuid()) +
                                                    ".service/app.slice/" + unitName);
        manager.folder = QString::fromStdString(folder);
        manager.calls.clear();
        manager.holdStop = place == refusingUnit;
        const std::string script = "echo $$ >" + folder + "/cgroup.procs; (trap '' TERM; " +
                                   "exec sleep 1000) & exec sleep 1000";
        const pid_t app = children.start(script.c_str());
        std::vector<std::int32_t> pids;
        const auto running = [](std::int32_t pid) { // past the trap: SIGTERM is ignored by now
            return readSmallFile("/proc/" + std::to_string(pid) + "/comm", 64) == "sleep\n";
        };
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return (pids = pidsInCgroup(folder)).size() == 2 && std::ranges::all_of(pids, running);
        }));
        const pid_t stranger = place == sharedUnit ? children.start(nullptr) : 0;
        ASSERT_TRUE(!stranger || group.add(stranger));

        overlay.open({"corveltest", "Test App", pids});
        click("Quit Test App");
        EXPECT_TRUE(overlay.message().endsWith("Unsaved work may be lost.")); // no window closer
        click("Quit");
        if (place == refusingUnit) {
            const QSignalSpy reported(&overlay.runner(), &ActionRunner::finished);
            panel.hide();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return manager.heldStop.type() == QDBusMessage::MethodCallMessage; }));
            bus.send(manager.heldStop.createErrorReply(QDBusError::AccessDenied, "refused"));
            EXPECT_TRUE(QTest::qWaitFor([&] { return ::waitpid(app, nullptr, WNOHANG) == app; }));
            EXPECT_EQ(reported.count(), 0);
            panel.show();
            continue;
        }
        awaitMessage("Test App is still running: 1 process has not ended.");
        EXPECT_EQ(::waitpid(app, nullptr, WNOHANG), app); // the parent quit
        click("Force Quit Test App");
        EXPECT_EQ(overlay.message(), "Force quit Test App and its 2 processes? Unsaved work will "
                                     "be lost.");
        click("Force Quit");
        awaitMessage("Test App has quit.");
        EXPECT_EQ(pidsInCgroup(folder),
                  stranger ? std::vector<std::int32_t>{stranger} : std::vector<std::int32_t>{});
        const QStringList called = place == unit
                                       ? QStringList{QString("StopUnit %1 replace").arg(unitName),
                                                     QString("KillUnit %1 all 9").arg(unitName)}
                                       : QStringList{};
        EXPECT_TRUE(QTest::qWaitFor([&] { return manager.calls == called; })) // unanswered
            << manager.calls.join('|').toStdString();
        overlay.dismiss();
    }
}

TEST_F(ActionsTest, ReusedPidIsNeverSignalled)
{
    const pid_t held = children.start(nullptr);
    overlay.open({"victim", "Victim", {held}});
    ::kill(held, SIGKILL);
    ::waitpid(held, nullptr, 0);
    if (!(std::ofstream("/proc/sys/kernel/ns_last_pid") << held - 1).flush())
        CORVEL_SKIP_TEST("root", "cannot choose the next pid");
    const pid_t reused = ::fork();
    if (reused == 0) {
        ::pause();
        ::_exit(0);
    }
    if (reused != held) { // taken by another process first
        ::kill(reused, SIGKILL), ::waitpid(reused, nullptr, 0);
        CORVEL_SKIP_TEST("root", "the pid was not given out again");
    }
    click("Force Quit Victim");
    EXPECT_EQ(overlay.message(), "Force quit Victim? Unsaved work will be lost.");
    click("Force Quit");
    awaitMessage("Victim has quit.");
    // A signal sent to it before this one would be the one it ended by.
    int status = 0;
    ::kill(reused, SIGTERM), ::waitpid(reused, &status, 0);
    EXPECT_EQ(WTERMSIG(status), SIGTERM) << "the new process was signalled";
}

// Rows that may not be quit keep the items, disabled, and say why; their pids may be copied,
// here by keys.
TEST_F(ActionsTest, RefusalsSayWhy)
{
    const pid_t own = children.start(nullptr);
    const pid_t other = children.start("exec setpriv --reuid=65534 --regid=65534 --clear-groups "
                                       "sleep 1000");
    const pid_t gone = children.start(nullptr);
    children.resize(2); // the last one ended
    if (::getuid() != 0)
        CORVEL_SKIP_TEST("root", "needs root to run a process as nobody");
    const auto runsAs = [](pid_t pid, std::uint32_t uid) { // its real user, once it has switched
        const std::string status = "/proc/" + std::to_string(pid) + "/status";
        return QTest::qWaitFor(
            [&] { return realUidOfStatus(readSmallFile(status, 4096).value_or("")) == uid; });
    };
    ASSERT_TRUE(runsAs(other, 65534));
    const struct
    {
        ActionSubject subject;
        const char* why; // empty: allowed
    } cases[] = {
        {{"__system", "System & Background", {own}}, "Not an application"},
        {{"corvel", "Corvel", {own, ::getpid()}}, "This is Corvel: use Quit below"},
        {{"mixed", "Mixed", {own, other}}, "Runs as another user"},
        {{"ended", "Ended", {gone}}, "No longer running"},
        {{"fine", "Fine", {own, gone}}, ""},
    };
    for (const auto& [subject, why] : cases) {
        SCOPED_TRACE(subject.name);
        overlay.open(subject);
        const QString name = QString::fromStdString(subject.name);
        for (const QString& item : {"Quit " + name, "Force Quit " + name}) {
            ASSERT_TRUE(button(item)) << item.toStdString();
            EXPECT_EQ(button(item)->isEnabled(), *why == '\0');
        }
        const auto* note = overlay.findChild<QLabel*>("note");
        EXPECT_EQ(note->isVisible() ? note->text() : "", why);
        // Up from the first item goes round to the last: "Copy process IDs".
        QTest::keyClick(overlay.focusWidget(), Qt::Key_Up);
        QTest::keyClick(overlay.focusWidget(), Qt::Key_Return);
        QStringList pids;
        for (std::int32_t pid : subject.pids)
            pids << QString::number(pid);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), pids.join(' '));
        EXPECT_FALSE(overlay.isVisible());
    }
    // With no descriptor left (the lowest free one is the limit), none is offered that could
    // miss a process.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const int lowest = ::dup(0);
    const rlimit none{static_cast<rlim_t>(lowest), files.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    overlay.open({"many", "Many", {own}});
    ::setrlimit(RLIMIT_NOFILE, &files), ::close(lowest);
    EXPECT_EQ(overlay.findChild<QLabel*>("note")->text(), "Too many processes to act on");

    // A process that became someone else's after the actions opened may not be signalled: the
    // panel says so. Corvel runs as a user here; the process starts as that user, able to become
    // nobody, and does when told, once the actions are open.
    constexpr uid_t user = 4321;
    for (const QString action : {"Quit", "Force Quit"}) {
        SCOPED_TRACE(action.toStdString());
        const pid_t turncoat = children.start([] {
            ::signal(SIGUSR1, [](int) { // a new uid clears the parent's death signal: set again
                ::setresuid(65534, 65534, 65534), ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            });
            if (::setresuid(user, 0, 0) == 0)
                for (;;)
                    ::pause();
        });
        ASSERT_TRUE(runsAs(turncoat, user));
        ASSERT_EQ(::setresuid(user, user, 0), 0);
        overlay.open({"turncoat", "Turncoat", {turncoat}});
        ::kill(turncoat, SIGUSR1);
        EXPECT_TRUE(runsAs(turncoat, 65534));
        click(action + " Turncoat");
        click(action);
        awaitMessage("Not permitted to quit Turncoat.");
        EXPECT_EQ(::setresuid(0, 0, 0), 0);
        overlay.dismiss();
    }
}

} // namespace

#include "actions_test.moc"
