// The status item against a private session bus, with a watcher and a host of our own.

#include "corvel_app.h"
#include "label_icon.h"
#include "popover_view.h"
#include "private_bus.h"
#include "status_notifier_item.h"
#include "status_notifier_types.h"
#include "test_host.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace corvel;
using namespace corvel::test;
using namespace std::chrono_literals;

namespace {

PrivateBus* privateBus = nullptr;
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");

// One busy process whose share the test sets before each cycle.
class CannedSnapshot final : public ProcessSnapshotter
{
  public:
    explicit CannedSnapshot(std::shared_ptr<std::atomic<double>> cpu) : cpu_(std::move(cpu)) {}
    std::vector<PSRow> take() override
    {
        return {PSRow{4242, 1, cpu_->load(), 2048, "/usr/bin/busy"}};
    }

  private:
    std::shared_ptr<std::atomic<double>> cpu_;
};

QString address()
{
    return QString::fromStdString(privateBus->address());
}

QString uniqueName(const char* prefix)
{
    static int count = 0;
    return QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(++count);
}

class StatusItemTest : public ::testing::Test
{
  protected:
    std::unique_ptr<CorvelApp> start()
    {
        Monitor::Sources sources;
        sources.snapshot = std::make_unique<CannedSnapshot>(cpu);
        sources.running = std::make_unique<NoRunningApplications>();
        sources.cores = 1;
        sources.interval = 0ms;
        auto app = std::make_unique<CorvelApp>(
            std::move(sources), QDBusConnection::connectToBus(address(), uniqueName("corvel")),
            [this](const QString& line) { notices << line; });
        labelBeforeFirstCycle = app->label();
        // The first cycle starts with the monitor; let it publish.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !app->monitor().cycleInFlight(); }, 5000));
        QTest::qWait(0);
        return app;
    }

    void cycle(CorvelApp& app, double value)
    {
        cpu->store(value);
        QSignalSpy published(&app.monitor(), &Monitor::appsChanged);
        ASSERT_TRUE(app.monitor().refresh());
        ASSERT_TRUE(published.wait(5000));
    }

    std::shared_ptr<std::atomic<double>> cpu = std::make_shared<std::atomic<double>>(0.0);
    QStringList notices;
    QString labelBeforeFirstCycle;
};

TEST_F(StatusItemTest, RegistersWithAWatcherAlreadyOnTheBus)
{
    TestWatcher watcher(address(), uniqueName("watcher"));
    ASSERT_TRUE(watcher.ok());
    auto app = start();
    ASSERT_NE(app->statusNotifierItem(), nullptr);
    const QString service = app->statusNotifierItem()->serviceName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-\\d+$")
                                       .arg(QCoreApplication::applicationPid()))
                    .match(service)
                    .hasMatch())
        << service.toStdString();

    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.registrations().size() == 1; }, 5000));
    EXPECT_EQ(watcher.registrations().front().service, service);
    EXPECT_EQ(app->area(), CorvelApp::Area::statusNotifier);
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(app->panel(), nullptr) << "nothing but the item at start-up";

    TestHost host(address(), uniqueName("host"));
    const QDBusMessage owner = host.call(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {service});
    ASSERT_EQ(owner.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(owner.arguments().value(0).toString(), watcher.registrations().front().sender);
}

TEST_F(StatusItemTest, WaitsForAWatcherThenRegistersAgainAfterItRestarts)
{
    auto app = start();
    EXPECT_EQ(app->area(), CorvelApp::Area::waiting);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.front().contains(QStringLiteral("waiting")));

    auto watcher = std::make_unique<TestWatcher>(address(), uniqueName("watcher"));
    ASSERT_TRUE(watcher->ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->registrations().size() == 1; }, 5000));
    EXPECT_EQ(watcher->registrations().front().service, app->statusNotifierItem()->serviceName());
    EXPECT_EQ(app->area(), CorvelApp::Area::statusNotifier);

    watcher.reset(); // the watcher quits ...
    QTest::qWait(100);
    watcher = std::make_unique<TestWatcher>(address(), uniqueName("watcher")); // ... and is back
    ASSERT_TRUE(watcher->ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->registrations().size() == 1; }, 5000));
    EXPECT_EQ(app->area(), CorvelApp::Area::statusNotifier);
    EXPECT_EQ(notices.size(), 1) << "the wait is announced once";
}

TEST_F(StatusItemTest, ExportsTheItemsProperties)
{
    TestWatcher watcher(address(), uniqueName("watcher"));
    cpu->store(37.4);
    auto app = start();
    EXPECT_EQ(labelBeforeFirstCycle, QStringLiteral("CPU 0%"));
    TestHost host(address(), uniqueName("host"));
    const QString service = app->statusNotifierItem()->serviceName();
    const QVariantMap props = host.properties(service, itemPath, itemInterface);
    ASSERT_FALSE(props.isEmpty());

    EXPECT_EQ(props.value(QStringLiteral("Category")).toString(),
              QStringLiteral("ApplicationStatus"));
    EXPECT_EQ(props.value(QStringLiteral("Id")).toString(), QStringLiteral("corvel"));
    EXPECT_EQ(props.value(QStringLiteral("Title")).toString(), QStringLiteral("Corvel"));
    EXPECT_EQ(props.value(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    ASSERT_TRUE(props.contains(QStringLiteral("ItemIsMenu")));
    EXPECT_FALSE(props.value(QStringLiteral("ItemIsMenu")).toBool());
    EXPECT_EQ(props.value(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("CPU 37%"));
    EXPECT_EQ(props.value(QStringLiteral("XAyatanaLabelGuide")).toString(),
              QStringLiteral("CPU 100%"));
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(props.value(QStringLiteral("Menu"))).path(),
              QStringLiteral("/MenuBar"));

    const auto tip = qdbus_cast<ToolTip>(props.value(QStringLiteral("ToolTip")));
    EXPECT_EQ(tip.title, QStringLiteral("CPU 37%"));

    const auto icons = qdbus_cast<IconPixmapList>(props.value(QStringLiteral("IconPixmap")));
    ASSERT_EQ(icons.size(), 2);
    for (const IconPixmap& icon : icons) {
        EXPECT_EQ(icon.width, icon.height);
        EXPECT_EQ(icon.argb.size(), qsizetype(icon.width) * icon.height * 4);
    }
    EXPECT_EQ(icons[0].width, 22);
    EXPECT_EQ(icons[1].width, 44);

    // Hosts that introspect before they call find the methods with their D-Bus signatures.
    const QDBusMessage xml =
        host.call(service, itemPath, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                  QStringLiteral("Introspect"));
    const QString text = xml.arguments().value(0).toString();
    for (const char* fragment :
         {"<method name=\"Activate\">", "<method name=\"SecondaryActivate\">",
          "<method name=\"ContextMenu\">", "<method name=\"Scroll\">",
          "<signal name=\"XAyatanaNewLabel\">", "<property name=\"IconPixmap\" type=\"a(iiay)\"",
          "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\""})
        EXPECT_TRUE(text.contains(QLatin1String(fragment))) << fragment;
}

TEST_F(StatusItemTest, LabelFollowsTheTotalAndSignalsOnlyWhenItsTextChanges)
{
    TestWatcher watcher(address(), uniqueName("watcher"));
    auto app = start();
    TestHost host(address(), uniqueName("host"));
    const QString service = app->statusNotifierItem()->serviceName();
    ASSERT_TRUE(host.watchItem(service));
    // A round trip after each cycle: signals sent before the reply arrive before it.
    const auto label = [&] {
        const QDBusMessage reply =
            host.call(service, itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("Get"), {itemInterface, QStringLiteral("XAyatanaLabel")});
        QTest::qWait(20);
        return qdbus_cast<QDBusVariant>(reply.arguments().value(0)).variant().toString();
    };
    EXPECT_EQ(label(), QStringLiteral("CPU 0%"));

    const struct
    {
        double total;
        const char* label;
    } steps[] = {{0.0, "CPU 0%"},    {12.4, "CPU 12%"},   {12.3, "CPU 12%"},   {11.6, "CPU 12%"},
                 {99.6, "CPU 100%"}, {100.0, "CPU 100%"}, {250.0, "CPU 100%"}, {0.4, "CPU 0%"}};
    for (const auto& step : steps) {
        cycle(*app, step.total);
        EXPECT_EQ(app->label(), QLatin1String(step.label)) << step.total;
        EXPECT_EQ(label(), QLatin1String(step.label)) << step.total;
    }
    EXPECT_EQ(host.labels, (QStringList{"CPU 12%", "CPU 100%", "CPU 0%"}));
    EXPECT_EQ(host.guides, (QStringList{"CPU 100%", "CPU 100%", "CPU 100%"}));
    EXPECT_EQ(host.newToolTips, 3);
    EXPECT_EQ(host.newIcons, 3);
}

TEST_F(StatusItemTest, ActivateOpensThePanelAndASecondActivateClosesIt)
{
    TestWatcher watcher(address(), uniqueName("watcher"));
    auto app = start();
    TestHost host(address(), uniqueName("host"));
    const QString service = app->statusNotifierItem()->serviceName();
    EXPECT_EQ(app->panel(), nullptr);

    const QDBusMessage reply =
        host.call(service, itemPath, itemInterface, QStringLiteral("Activate"), {300, 5});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->panel() && app->panel()->isVisible(); }, 5000));
    EXPECT_EQ(app->panel()->width(), 380);

    host.call(service, itemPath, itemInterface, QStringLiteral("Activate"), {300, 5});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app->panel()->isVisible(); }, 5000));
}

TEST_F(StatusItemTest, MenuHasOneEntryThatOpensThePanel)
{
    TestWatcher watcher(address(), uniqueName("watcher"));
    auto app = start();
    TestHost host(address(), uniqueName("host"));
    const QString service = app->statusNotifierItem()->serviceName();
    const QString menu = QStringLiteral("com.canonical.dbusmenu");
    const QString path = QStringLiteral("/MenuBar");

    const QDBusMessage layoutReply =
        host.call(service, path, menu, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layoutReply.type(), QDBusMessage::ReplyMessage)
        << layoutReply.errorMessage().toStdString();
    const auto layout = qdbus_cast<MenuLayoutItem>(layoutReply.arguments().value(1));
    EXPECT_EQ(layout.id, 0);
    ASSERT_EQ(layout.children.size(), 1);
    const MenuLayoutItem& entry = layout.children.front();
    EXPECT_FALSE(entry.properties.value(QStringLiteral("label")).toString().isEmpty());
    EXPECT_TRUE(entry.properties.value(QStringLiteral("enabled")).toBool());

    const QDBusMessage clicked = host.call(
        service, path, menu, QStringLiteral("Event"),
        {entry.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
    ASSERT_EQ(clicked.type(), QDBusMessage::ReplyMessage) << clicked.errorMessage().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app->panel() && app->panel()->isVisible(); }, 5000));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    PrivateBus bus;
    if (!bus.running()) {
        std::fprintf(stderr, "skipped: %s\n", bus.error().c_str());
        return 77;
    }
    privateBus = &bus;
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    registerStatusNotifierTypes();
    return RUN_ALL_TESTS();
}
