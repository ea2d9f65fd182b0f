// The status item against a host of the test's own (watcher, host and notification server in
// one) on the private session bus CMake starts for the test. Clicks and the menu's entry run on
// real hosts (tests/hosts).

#include "corvel_app.h"
#include "label_icon.h"
#include "popover_view.h"
#include "status_notifier_item.h"
#include "support/fake_sources.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QSignalSpy>
#include <QTest>

using namespace corvel;
using namespace std::chrono_literals;

namespace {

const QString itemIface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");

class Notifications final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList bodies;
public slots:
    uint Notify(const QString&, uint, const QString&, const QString&, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        bodies << body;
        return 1;
    }
};

class TestHost final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items)
public:
    explicit TestHost(bool watcher = true)
        : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                            QString::number(quintptr(this))))
    {
        bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                           QDBusConnection::ExportAllSlots);
        bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
        if (watcher) {
            bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                               QDBusConnection::ExportAllContents);
            bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        }
    }
    ~TestHost() override { QDBusConnection::disconnectFromBus(bus.name()); }

    QDBusMessage call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(items.value(0), path, iface, method);
        message.setArguments(args);
        QDBusPendingCall pending = bus.asyncCall(message);
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 10'000);
        return pending.reply();
    }
    QVariant property(const QString& name)
    {
        const QDBusMessage reply = call(itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {itemIface, name});
        return qdbus_cast<QDBusVariant>(reply.arguments().value(0)).variant();
    }
    void drop(bool announce)
    {
        const QString item = items.takeFirst();
        if (announce)
            emit StatusNotifierItemUnregistered(item);
    }

    QDBusConnection bus;
    QStringList items;
    int registrations = 0;
    int newLabels = 0;
    Notifications notifications;

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        EXPECT_EQ(service, message().service()) << "registers by its unique name";
        items << service;
        ++registrations;
    }
    void RegisterStatusNotifierHost(const QString&) {}
    void newLabel() { ++newLabels; }

signals:
    void StatusNotifierItemUnregistered(const QString& service);
};

class StatusItem : public ::testing::Test
{
protected:
    std::unique_ptr<CorvelApp> start(std::chrono::milliseconds noticeDelay = 1h)
    {
        cycle(37.0, nullptr);
        auto app = std::make_unique<CorvelApp>(
            feed.sources(), QDBusConnection::sessionBus(),
            [this](const QString& line) { notices << line; }, noticeDelay);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !app->monitor().cycleInFlight(); }, 5000));
        return app;
    }
    // One busy application with the share `total`, published when `app` is given.
    void cycle(double total, CorvelApp* app)
    {
        feed.set({{"busy", "Busy", total, 2048}});
        if (app) {
            ASSERT_TRUE(corvel::testing::published(app->monitor(), &Monitor::refresh));
        }
    }

    corvel::testing::FakeFeed feed;
    QStringList notices;
};

TEST_F(StatusItem, RegistersWhenAWatcherComesAndAgainWheneverItIsDropped)
{
    auto app = start();
    EXPECT_EQ(app->area(), CorvelApp::Area::waiting);
    auto host = std::make_unique<TestHost>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host->registrations == 1; }, 5000));
    EXPECT_EQ(host->items, QStringList{QDBusConnection::sessionBus().baseService()});
    EXPECT_EQ(app->area(), CorvelApp::Area::statusNotifier);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return app->statusNotifierItem()->listedByWatcher(); }, 5000));

    host->drop(false); // silently, as a host that failed to show it
    EXPECT_TRUE(QTest::qWaitFor([&] { return host->registrations == 2; }, 10'000));
    host->drop(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return host->registrations == 3; }, 5000));
    host.reset(); // the watcher restarts
    host = std::make_unique<TestHost>();
    EXPECT_TRUE(QTest::qWaitFor([&] { return host->registrations == 1; }, 5000));
    QTest::qWait(1500);
    EXPECT_EQ(host->registrations, 1) << "an item that is listed is left alone";
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(app->panel(), nullptr) << "nothing but the item at start-up";
}

TEST_F(StatusItem, EveryPropertyHasItsTypeAndTheLabelFollowsTheTotal)
{
    TestHost host;
    auto app = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.registrations == 1; }, 5000));
    const auto introspect = [&](const QString& path) {
        return host
            .call(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                  QStringLiteral("Introspect"))
            .arguments()
            .value(0)
            .toString();
    };
    const QString xml = introspect(itemPath);
    const QString types = QStringLiteral(
        "Category:s Id:s Title:s Status:s IconName:s IconThemePath:s IconAccessibleDesc:s "
        "AttentionIconName:s AttentionAccessibleDesc:s AttentionMovieName:s OverlayIconName:s "
        "XAyatanaLabel:s XAyatanaLabelGuide:s IconPixmap:a(iiay) AttentionIconPixmap:a(iiay) "
        "OverlayIconPixmap:a(iiay) WindowId:i ItemIsMenu:b Menu:o ToolTip:(sa(iiay)ss)");
    for (const QString& typed : types.split(QLatin1Char(' '))) {
        const QStringList parts = typed.split(QLatin1Char(':'));
        EXPECT_TRUE(xml.contains(
            QStringLiteral("<property name=\"%1\" type=\"%2\"").arg(parts[0], parts[1])))
            << typed.toStdString();
    }
    EXPECT_TRUE(introspect(QStringLiteral("/MenuBar"))
                    .contains(QLatin1String("<arg name=\"events\" type=\"a(isvu)\"")));

    const struct
    {
        double total;
        const char* label;
    } steps[] = {{37.0, "CPU 37%"},  {12.4, "CPU 12%"}, {11.6, "CPU 12%"},
                 {99.6, "CPU 100%"}, {250, "CPU 100%"}, {0.4, "CPU 0%"}};
    host.bus.connect(host.items[0], itemPath, itemIface, QStringLiteral("XAyatanaNewLabel"), &host,
                     SLOT(newLabel()));
    for (const auto& step : steps) {
        cycle(step.total, app.get());
        const QString label = QLatin1String(step.label);
        EXPECT_EQ(host.property(QStringLiteral("XAyatanaLabel")).toString(), label);
        EXPECT_TRUE(host.property(QStringLiteral("IconAccessibleDesc")).toString().endsWith(label));
        EXPECT_EQ(qdbus_cast<ToolTip>(host.property(QStringLiteral("ToolTip"))).description, label);
        const auto icons = qdbus_cast<IconPixmapList>(host.property(QStringLiteral("IconPixmap")));
        EXPECT_EQ(icons.value(0).argb, itemIconPixmaps(IconStyle::badge, label).front().argb);
    }
    EXPECT_EQ(host.newLabels, 3) << "hosts are told only when the text changes";
}

TEST_F(StatusItem, WithNoStatusAreaTheUserIsToldOnceAndTheItemAppearsLater)
{
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    TestHost notifier(false);
    auto app = start(200ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.notifications.bodies.isEmpty(); }, 5000));
    EXPECT_TRUE(notifier.notifications.bodies.front().contains(
        QLatin1String("gnome-shell-extension-appindicator")));
    EXPECT_EQ(notices.size(), 1);

    prctl(PR_SET_NAME, "gnome-shell"); // the watcher's process, as the item sees it
    TestHost host;
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.registrations == 1; }, 5000));
    prctl(PR_SET_NAME, "status_notifier");
    EXPECT_EQ(app->area(), CorvelApp::Area::statusNotifier);
    // That host draws the label: beside it the icon is a plain glyph.
    EXPECT_EQ(qdbus_cast<IconPixmapList>(host.property(QStringLiteral("IconPixmap"))).value(0).argb,
              itemIconPixmaps(IconStyle::glyph, {}).front().argb);
    EXPECT_EQ(host.property(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("CPU 37%"));
    QTest::qWait(400);
    EXPECT_EQ(notifier.notifications.bodies.size() + host.notifications.bodies.size(), 1);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerStatusNotifierTypes();
    return RUN_ALL_TESTS();
}

#include "status_notifier_test.moc"
