// The status item on a private bus with the test's own watcher and notification server (clicks
// and the menu: tests/hosts); its pictures, left in the build folder as label_icons.png; its
// panel on a headless sway that goes away.
#include "corvel_app.h"
#include "desktop_appearance.h"
#include "label_icon.h"
#include "panel_style.h"
#include "popover_view.h"
#include "session_instance.h"
#include "status_notifier_item.h"
#include "support/fake_sources.h"
#include "support/require.h"
#include "wayland_connection.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

using namespace corvel;
using namespace std::chrono_literals;

namespace {

const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");

class TestHost final : public QDBusVirtualObject
{
public:
    TestHost()
    {
        bus.registerVirtualObject("/", this, QDBusConnection::SubPath);
        bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~TestHost() override { QDBusConnection::disconnectFromBus(bus.name()); }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override
    {
        const QString first = call.arguments().value(0).toString();
        if (call.member() == QLatin1String("RegisterStatusNotifierItem")) {
            EXPECT_EQ(first, call.service()) << "registers by its unique name";
            items << first;
        }
        if (call.member() == QLatin1String("Notify"))
            bodies << call.arguments().value(4).toString();
        if (call.member() == QLatin1String("Read")) // the settings portal: dark, in two variants
            return bus.send(call.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(1u))))));
        return bus.send(call.createReply(call.member() == QLatin1String("Get")
                                             ? QVariant::fromValue(QDBusVariant(items))
                                             : QVariant(1u)));
    }
    QString introspect(const QString&) const override { return {}; }

    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "host");
    QStringList items, bodies;
};

TEST(StatusItem, TellsOnceWhenThereIsNoAreaRegistersWhenAWatcherComesAndFollowsTheTotal)
{
    registerStatusNotifierTypes();
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    TestHost host;
    corvel::testing::FakeFeed feed;
    feed.set({{"busy", "Busy & <Co>", 37, 2048}});
    QStringList notices;
    CorvelApp app(
        feed.sources(), QDBusConnection::sessionBus(),
        [&](const QString& line) { notices << line; }, 200ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.bodies.isEmpty(); }, 5000));
    EXPECT_TRUE(host.bodies.front().contains("gnome-shell-extension-appindicator"));

    prctl(PR_SET_NAME, "gnome-shell"); // the watcher's process, as the item sees it
    host.bus.registerService(watcher);
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.items.size() == 1; }, 5000));
    prctl(PR_SET_NAME, "status_notifier");
    EXPECT_EQ(app.area(), CorvelApp::Area::statusNotifier);
    // What hosts read. That host draws the label: beside it the icon is a plain glyph, light
    // for its bar, dark in light sessions too.
    auto* item = app.statusNotifierItem()->findChild<QDBusAbstractAdaptor*>(
        QString(), Qt::FindDirectChildrenOnly);
    EXPECT_EQ(item->property("IconPixmap").value<IconPixmapList>().value(0).argb,
              itemIconPixmaps(IconStyle::glyph, {}, ColorScheme::dark).front().argb);
    EXPECT_EQ(item->property("XAyatanaLabel").toString(), "CPU 37%");

    host.items.clear(); // the watcher goes for a while: the user is not told again
    ASSERT_TRUE(host.bus.unregisterService(watcher));
    QTest::qWait(2000);
    ASSERT_TRUE(host.bus.registerService(watcher));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return host.items.size() == 1 && app.statusNotifierItem()->listedByWatcher(); },
        5000));
    host.items.clear(); // silently, as a host that failed to show it
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.items.size() == 1; }, 10'000));
    host.bus.send(QDBusMessage::createSignal("/StatusNotifierWatcher", watcher,
                                             "StatusNotifierItemUnregistered")
                  << host.items.takeFirst());
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.items.size() == 1; }, 5000));
    QTest::qWait(1500);
    EXPECT_EQ(host.items.size(), 1) << "an item that is listed is left alone";

    QSignalSpy newLabels(item, SIGNAL(XAyatanaNewLabel(QString, QString)));
    QSignalSpy newToolTips(item, SIGNAL(NewToolTip())), newIcons(item, SIGNAL(NewIcon()));
    const std::pair<double, const char*> steps[] = {
        {37.0, "CPU 37%"}, {12.4, "CPU 12%"},  {11.6, "CPU 12%"}, {99.6, "CPU 100%"},
        {250, "CPU 100%"}, {-1, "CPU \u2013"}, {0.4, "CPU 0%"}}; // -1: a failed cycle
    for (const auto& [total, text] : steps) {
        feed.set({{"busy", "Busy & <Co>", total, 2048}});
        feed.change([total = total](auto& s) { s.fails = total < 0; });
        ASSERT_TRUE(corvel::testing::published(app.monitor(), &Monitor::refresh));
        EXPECT_EQ(item->property("XAyatanaLabel").toString(), text);
        const ToolTip tip = item->property("ToolTip").value<ToolTip>();
        EXPECT_EQ(tip.title + "/" + tip.description,
                  text + QString(total < 0 ? "/" : "/Busy &amp; &lt;Co&gt; %1%") // markup
                             .arg(total, 0, 'f', 1));
        EXPECT_EQ(item->property("IconAccessibleDesc").toString(), "Corvel: " + QString(text));
        EXPECT_EQ(item->property("IconPixmap").value<IconPixmapList>().value(0).argb,
                  itemIconPixmaps(IconStyle::badge, text).front().argb);
    }
    EXPECT_EQ(std::tuple(newLabels.count(), newToolTips.count(), newIcons.count()),
              std::tuple(4, 6, 4))
        << "hosts are told only when the text changes";
    EXPECT_EQ(newLabels.value(3), (QVariantList{"CPU 0%", "CPU 100%"})) << "the text and its guide";
    EXPECT_EQ(item->property("XAyatanaLabelGuide").toString(), "CPU 100%");
    EXPECT_EQ(notices.size() + host.bodies.size(), 2) << "told once, here and by a notification";
    EXPECT_EQ(app.panel(), nullptr) << "nothing but the item at start-up";

    // A second start in the session opens this one's panel and leaves.
    SessionInstance first;
    ASSERT_EQ(first.claim(), SessionInstance::Claim::owned);
    EXPECT_NE(host.bus.interface()->serviceOwner(SessionInstance::appId).value(),
              QDBusConnection::sessionBus().baseService())
        << "the name is not on the item's connection: hosts would find the item twice";
    QObject::connect(&first, &SessionInstance::activated, &app, &CorvelApp::openPanel);
    QProcess second;
    second.start(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR") + "/src/corvel", QStringList());
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 10'000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    ASSERT_TRUE(app.panel() && app.panel()->isVisible());
    EXPECT_EQ(item->property("ToolTip").value<ToolTip>().title, "") << "the host's over the panel";
    QSignalSpy tipBack(item, SIGNAL(NewToolTip()));
    app.panel()->hide();
    EXPECT_TRUE(tipBack.wait(5000) && item->property("ToolTip").value<ToolTip>().title != "");
    EXPECT_GT(app.panel()->geometry().center().x(), app.panel()->screen()->geometry().center().x())
        << "with no click to go by, the top right corner";
    second.kill(), second.waitForFinished();

    const auto introspect = [bus = QDBusConnection::sessionBus()](const char* path) {
        const char* const iface = "org.freedesktop.DBus.Introspectable";
        const QDBusMessage call =
            QDBusMessage::createMethodCall(bus.baseService(), path, iface, "Introspect");
        return bus.call(call).arguments().value(0).toString();
    };
    // Each property with the type hosts expect.
    const QString xml = introspect("/StatusNotifierItem")
                            .replace("<property name=\"", " ")
                            .replace("\" type=\"", ":");
    for (const QString& typed :
         QString(
             "Category:s Id:s Title:s Status:s IconName:s IconThemePath:s IconAccessibleDesc:s "
             "AttentionIconName:s AttentionAccessibleDesc:s AttentionMovieName:s OverlayIconName:s "
             "XAyatanaLabel:s XAyatanaLabelGuide:s IconPixmap:a(iiay) AttentionIconPixmap:a(iiay) "
             "OverlayIconPixmap:a(iiay) WindowId:i ItemIsMenu:b Menu:o ToolTip:(sa(iiay)ss)")
             .split(' '))
        EXPECT_TRUE(xml.contains(' ' + typed + '"')) << typed.toStdString();
    EXPECT_TRUE(introspect("/MenuBar").contains("<arg name=\"events\" type=\"a(isvu)\""));
}

// Light or dark as the desktop's files say, then as the portal says, and every change seen; the
// panel's palette and secondary text follow.
TEST(Appearance, FilesThenThePortalAndEveryChangeOfEither)
{
    QTemporaryDir config;
    const auto write = [&](const QString& file, const QByteArray& text) {
        QDir(config.path()).mkpath(QFileInfo(file).path());
        QFile out(config.filePath(file));
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    };
    const QString keyfile = QStringLiteral("glib-2.0/settings/keyfile");
    ASSERT_TRUE(write("kdeglobals", "[General]\nColorScheme=Breeze\n[Colors:Window]\n"
                                    "BackgroundNormal=49,54,59\n") &&
                write(keyfile, "[org/gnome/desktop/interface]\ncolor-scheme='default'\n"));
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    DesktopAppearance files(QDBusConnection::sessionBus());
    EXPECT_EQ(files.scheme(), ColorScheme::dark) << "KDE's window background";
    QSignalSpy changes(&files, &DesktopAppearance::schemeChanged);
    for (const bool light : {true, false, true}) { // written, removed, written anew
        ASSERT_TRUE(light
                        ? write(keyfile, "[org/gnome/desktop/interface]\ncolor-scheme=prefer-light")
                        : QFile::remove(config.filePath(keyfile)));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return files.scheme() == (light ? ColorScheme::light : ColorScheme::dark); },
            5000));
    }
    EXPECT_EQ(changes.count(), 3);

    TestHost host; // a portal that says dark, then light
    ASSERT_TRUE(host.bus.registerService("org.freedesktop.portal.Desktop"));
    DesktopAppearance appearance(QDBusConnection::sessionBus());
    EXPECT_TRUE(QTest::qWaitFor([&] { return appearance.scheme() == ColorScheme::dark; }, 5000))
        << "the portal before the files";
    QDBusMessage changed = QDBusMessage::createSignal(
        "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
    changed << "org.freedesktop.appearance"
            << "color-scheme" << QVariant::fromValue(QDBusVariant(2u));
    EXPECT_TRUE(QTest::qWaitFor( // told until the match for the portal's signals is in place
        [&] { return host.bus.send(changed) && appearance.scheme() == ColorScheme::light; }, 5000));
    qputenv("XDG_CONFIG_HOME", "/nonexistent");
    qunsetenv("GSETTINGS_BACKEND");

    // Qt's own palette where it is of the kind asked for; else ours, with dimmed secondary text.
    const QPalette light = QApplication::style()->standardPalette();
    const QPalette dark = paletteFor(ColorScheme::dark, light);
    EXPECT_TRUE(!isDark(light) && isDark(dark) && paletteFor(ColorScheme::light, light) == light &&
                paletteFor(ColorScheme::dark, dark) == dark &&
                !isDark(paletteFor(ColorScheme::light, dark)));
    const int secondary = qGray(secondaryColor(dark).rgb());
    EXPECT_TRUE(qGray(dark.color(QPalette::Window).rgb()) + 50 < secondary &&
                secondary + 50 < qGray(dark.color(QPalette::WindowText).rgb()));
}

// How far the icon on `bar` stands out from it along its middle row: at its left edge, and as
// the number of separate runs of light rows (lines of text) in its middle half.
std::pair<int, int> contrastAndLines(const QImage& icon, QColor bar)
{
    QImage shown(icon.size(), QImage::Format_RGB32);
    shown.fill(bar);
    QPainter(&shown).drawImage(0, 0, icon);
    const int y = icon.height() / 2;
    int x = 0, contrast = 0, lines = 0;
    while (x < icon.width() && qAlpha(icon.pixel(x, y)) < 128)
        ++x;
    for (const int end = std::min(icon.width(), x + std::max(3, icon.width() / 8)); x < end; ++x)
        contrast = std::max(contrast, std::abs(qGray(shown.pixel(x, y)) - qGray(bar.rgb())));
    for (int row = 0, previous = 0; row < icon.height(); ++row) {
        int ink = 0;
        for (int column = icon.width() / 4; column < icon.width() * 3 / 4; ++column)
            ink |= qGray(shown.pixel(column, row)) > 170;
        lines += ink > previous;
        previous = ink;
    }
    return {contrast, lines};
}

TEST(ItemIcon, EverySizeIsDrawnForItselfStandsOutOnLightAndDarkBarsAndReachesHostsIntact)
{
    const QString label = QStringLiteral("CPU 100%");
    QList<int> sizes;
    for (const IconPixmap& p : itemIconPixmaps(IconStyle::badge, label))
        sizes << p.width;
    EXPECT_TRUE(std::ranges::includes(sizes, std::array{16, 18, 22, 24, 32, 44, 48, 64, 96}));
    for (const int size : sizes) {
        for (const IconStyle style : {IconStyle::badge, IconStyle::glyph})
            for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark})
                for (const QColor bar :
                     {QColor(Qt::white), QColor(Qt::black), QColor(Qt::darkGray)})
                    EXPECT_GT(
                        contrastAndLines(renderItemIcon(style, label, size, scheme), bar).first, 60)
                        << size << " on " << qGray(bar.rgb());
        EXPECT_EQ(contrastAndLines(renderItemIcon(IconStyle::badge, label, size), Qt::black).second,
                  size < 20 ? 1 : 2)
            << size;
    }
    // The glyph goes beside a label the host draws: it never shows the figure.
    EXPECT_EQ(renderItemIcon(IconStyle::glyph, label, 16),
              renderItemIcon(IconStyle::glyph, QStringLiteral("CPU 3%"), 16));

    QImage sheet(9 * 25, 2 * 25, QImage::Format_RGB32);
    QPainter painter(&sheet);
    for (int n = 0; n < 18; ++n) {
        const QString text = QStringList{"CPU 37%", "CPU 100%", ""}[n / 6];
        painter.fillRect(n / 2 * 25, n % 2 * 25, 25, 25, n % 2 ? 0x242424 : 0xeeeeee);
        painter.drawImage(n / 2 * 25 + 2, n % 2 * 25 + 2,
                          renderItemIcon(text.isEmpty() ? IconStyle::glyph : IconStyle::badge, text,
                                         QList{16, 18, 22}[n / 2 % 3]));
    }
    painter.end();
    sheet.scaled(sheet.size() * 4)
        .save(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR", ".") + "/label_icons.png");

    // Hosts get unpremultiplied pixels in network order; Qt asks the tray's icon for device
    // pixels: a 24-point slot at 2x gets 48 drawn pixels.
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xff));
    image.setPixel(1, 0, qRgba(0xff, 0x00, 0x00, 0x80)); // half-transparent red
    const IconPixmap out = toIconPixmap(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(out.argb, QByteArray::fromHex("ff11223380ff0000"));
    const QPixmap pixmap =
        QIcon(new LabelIconEngine(QStringLiteral("CPU 7%"))).pixmap(QSize(24, 24), 2.0);
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
              renderItemIcon(IconStyle::badge, QStringLiteral("CPU 7%"), 48)
                  .convertToFormat(QImage::Format_ARGB32));
}

// A headless sway of the test's own, as nobody when run by root (sway refuses root).
struct Sway
{
    Sway()
    {
        const bool root = ::geteuid() == 0;
        EXPECT_TRUE(!root || ::chown(qPrintable(dir.path()), 65534, 65534) == 0);
        process.start(
            "env",
            QStringList{"-u", "WAYLAND_DISPLAY", "-u", "DISPLAY", "WLR_BACKENDS=headless",
                        "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                        "XDG_RUNTIME_DIR=" + dir.path()} +
                (root ? QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}
                      : QStringList()) +
                QStringList{"sway", "-c", "/dev/null"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !socket().isEmpty(); }, 10'000));
    }
    ~Sway() { process.kill(), process.waitForFinished(); }
    QString socket() const
    {
        const QStringList names = QDir(dir.path()).entryList({"wayland-?"}, QDir::System);
        return names.isEmpty() ? QString() : dir.filePath(names.front());
    }
    QTemporaryDir dir;
    QProcess process;
};

// A connection that dies with a round trip in flight leaves nothing behind; the next click
// opens the panel through a new connection where a compositor answers, else Qt's own window.
TEST(WaylandPanel, ALostConnectionLeavesNothingAndTheNextClickStillOpensThePanel)
{
    if (QStandardPaths::findExecutable("sway").isEmpty())
        CORVEL_SKIP_TEST("wayland", "sway is not installed");
    auto sway = std::make_unique<Sway>();
    qputenv("WAYLAND_DISPLAY", sway->socket().toLocal8Bit());
    auto connection = WaylandConnection::open();
    ASSERT_TRUE(connection) << sway->process.readAllStandardError().toStdString();
    const auto token = std::make_shared<int>();
    ::kill(static_cast<pid_t>(sway->process.processId()), SIGSTOP); // it answers nothing
    connection->afterRoundTrip([token] {});
    connection.reset();
    EXPECT_EQ(token.use_count(), 1);
    ::kill(static_cast<pid_t>(sway->process.processId()), SIGCONT);

    corvel::testing::FakeFeed feed;
    CorvelApp app(feed.sources(), QDBusConnection(QString()), nullptr);
    const auto opened = [&](bool ownSurfaces) {
        const bool own = app.panel()->testAttribute(Qt::WA_DontShowOnScreen);
        // On our surfaces too the panel is Qt's active window, or no focus ring is drawn.
        const bool active = !own || QApplication::activeWindow() == app.panel();
        return app.panel()->isVisible() && own == ownSurfaces && active;
    };
    for (const bool again : {true, false}) {
        app.togglePanel(QRect(10, 10, 1, 1));
        EXPECT_TRUE(opened(true));
        sway.reset(); // our connection dies, maybe with a round trip in flight
        EXPECT_TRUE(QTest::qWaitFor([&] { return !app.panel()->isVisible(); }, 5000));
        EXPECT_EQ(QApplication::activeWindow(), nullptr);
        if (again)
            sway = std::make_unique<Sway>();
        qputenv("WAYLAND_DISPLAY", again ? sway->socket().toLocal8Bit() : "nowhere");
    }
    app.togglePanel(QRect(10, 10, 1, 1));
    EXPECT_TRUE(opened(false));
}

} // namespace
