#include "corvel_app.h"

#include "desktop_appearance.h"
#include "desktop_applications.h"
#include "desktop_notification.h"
#include "formatting.h"
#include "layer_panel.h"
#include "panel_style.h"
#include "popover_view.h"
#include "session_instance.h"
#include "status_notifier_item.h"
#include "xembed_tray_item.h"

#include <cstdio>

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QSystemTrayIcon>

namespace corvel {
namespace {

constexpr std::chrono::milliseconds trayPollInterval{2000};
constexpr std::chrono::milliseconds watcherGraceTime{1500};

// Hosts differ on what the point of an activation means: the click, the item's corner, a point
// in their own applet. On X11 the pointer, read as the activation arrives, is on the item. Under
// Xwayland it is only where it last was over an X window.
QPoint clickPoint(QPoint fromHost)
{
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb") &&
                     qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return x11 ? QCursor::pos() : fromHost;
}

// A dash while the figures are stale: an old percentage would pass for a current one.
QString labelFor(const Monitor& monitor)
{
    if (monitor.staleSince())
        return QStringLiteral("CPU \u2013");
    return QString::fromStdString(formatCpuLabel(monitor.totalCPU()));
}

QString detailsFor(const Monitor& monitor)
{
    return monitor.staleSince() ? QString() : QString::fromStdString(formatBusiest(monitor.apps()));
}

} // namespace

CorvelApp::CorvelApp(Monitor::Sources sources, QDBusConnection bus, Notice notice,
                     std::chrono::milliseconds noticeDelay)
    : monitor_(std::move(sources)), notice_(std::move(notice)), label_(labelFor(monitor_)),
      details_(detailsFor(monitor_)), bus_(bus)
{
    // The total comes after the list of the same cycle: both are current here.
    connect(&monitor_, &Monitor::totalCPUChanged, this, &CorvelApp::updateItem);
    platformPalette_ = QGuiApplication::palette();
    appearance_ = std::make_unique<DesktopAppearance>(bus);
    connect(appearance_.get(), &DesktopAppearance::schemeChanged, this,
            &CorvelApp::applyColorScheme);

    if (bus.isConnected()) {
        statusNotifier_ = std::make_unique<StatusNotifierItem>(bus, label_);
        statusNotifier_->setLabel(label_, details_);
        connect(statusNotifier_.get(), &StatusNotifierItem::activationRequested, this,
                [this](QPoint at) { togglePanel(QRect(clickPoint(at), QSize(1, 1))); });
        connect(statusNotifier_.get(), &StatusNotifierItem::watcherAppeared, this, [this] {
            watcherGrace_.stop();
            chooseArea();
        });
        connect(statusNotifier_.get(), &StatusNotifierItem::watcherVanished, this,
                [this] { watcherGrace_.start(); });
        if (!statusNotifier_->publish())
            statusNotifier_.reset();
    }

    trayPoll_.setInterval(trayPollInterval);
    connect(&trayPoll_, &QTimer::timeout, this, [this] {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            chooseArea();
    });
    watcherGrace_.setSingleShot(true);
    watcherGrace_.setInterval(watcherGraceTime);
    connect(&watcherGrace_, &QTimer::timeout, this, &CorvelApp::chooseArea);
    noticeDelay_.setSingleShot(true);
    noticeDelay_.setInterval(noticeDelay);
    connect(&noticeDelay_, &QTimer::timeout, this, &CorvelApp::tellNoArea);

    chooseArea();
    applyColorScheme();
}

CorvelApp::~CorvelApp() = default;

void CorvelApp::applyColorScheme()
{
    const ColorScheme scheme = appearance_->scheme();
    // Every widget, the panel among them, follows the application's palette as it changes.
    QApplication::setPalette(paletteFor(scheme, platformPalette_));
    if (statusNotifier_)
        statusNotifier_->setColorScheme(scheme);
    if (xembed_)
        xembed_->setColorScheme(scheme);
}

void CorvelApp::updateItem()
{
    label_ = labelFor(monitor_);
    details_ = detailsFor(monitor_);
    // Each tells its host only what changed.
    if (statusNotifier_)
        statusNotifier_->setLabel(label_, details_);
    if (xembed_)
        xembed_->setLabel(label_, details_);
}

void CorvelApp::chooseArea()
{
    if (statusNotifier_ && statusNotifier_->watcherOnBus()) {
        trayPoll_.stop();
        noticeDelay_.stop();
        if (xembed_)
            xembed_->hide();
        area_ = Area::statusNotifier;
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayPoll_.stop();
        noticeDelay_.stop();
        if (!xembed_) {
            xembed_ = std::make_unique<XEmbedTrayItem>(label_);
            xembed_->setLabel(label_, details_);
            xembed_->setToolTipShown(!panel_ || !panel_->isVisible());
            xembed_->setColorScheme(appearance_->scheme());
            connect(xembed_.get(), &XEmbedTrayItem::clicked, this, &CorvelApp::togglePanel);
        }
        xembed_->show();
        area_ = Area::xembed;
        return;
    }
    if (xembed_)
        xembed_->hide();
    area_ = Area::waiting;
    trayPoll_.start();
    if (!waitNoticeGiven_ && !noticeDelay_.isActive())
        noticeDelay_.start();
}

void CorvelApp::tellNoArea()
{
    if (area_ != Area::waiting || waitNoticeGiven_)
        return;
    waitNoticeGiven_ = true;
    if (notice_) {
        notice_(QStringLiteral("waiting for a status area to show the item in (no "
                               "StatusNotifierWatcher on the session bus and no system tray)"));
    }
    const bool gnome = qEnvironmentVariable("XDG_CURRENT_DESKTOP")
                           .contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
    const QString body =
        gnome ? tr("GNOME shows status icons only with the extension \"AppIndicator and "
                   "KStatusNotifierItem Support\" (Debian and Ubuntu package "
                   "gnome-shell-extension-appindicator). Install it and turn it on in "
                   "Extensions: Corvel appears as soon as it is on.")
              : tr("No panel with a status area (system tray) is running. Corvel appears as "
                   "soon as one starts.");
    notifyDesktop(bus_, tr("Corvel has no place to show itself"), body);
}

void CorvelApp::openPanel()
{
    if (!panel_ || !panel_->isVisible())
        togglePanel(std::nullopt);
}

void CorvelApp::togglePanel(std::optional<QRect> anchor)
{
    if (!panel_) {
        panel_ = std::make_unique<PopoverView>(monitor_);
        connect(panel_.get(), &PopoverView::shownChanged, this, [this](bool shown) {
            if (statusNotifier_)
                statusNotifier_->setToolTipShown(!shown);
            if (xembed_)
                xembed_->setToolTipShown(!shown);
        });
        layerPanel_ = LayerPanel::create(*panel_);
    }
    if (layerPanel_ && !layerPanel_->usable()) {
        // Our connection to the compositor died: a new one where the compositor still answers
        // (or one that took its place), else Qt's own window.
        layerPanel_.reset();
        layerPanel_ = LayerPanel::create(*panel_);
    }
    if (anchor)
        lastAnchor_ = anchor;
    if (layerPanel_)
        layerPanel_->toggle(anchor ? std::optional(anchor->topLeft()) : std::nullopt);
    else
        panel_->toggleAnchored(anchor.value_or(fallbackAnchor()));
}

QRect CorvelApp::fallbackAnchor() const
{
    // Opened with no click (a second start hands over to us, its pointer maybe on a menu):
    // where the item was last clicked, else the top right corner, where most status areas sit.
    if (lastAnchor_)
        return *lastAnchor_;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return {screen ? screen->geometry().topRight() : QPoint(), QSize(1, 1)};
}

int runStatusItem(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Corvel"));
    QApplication::setQuitOnLastWindowClosed(false);
    SessionInstance instance;
    switch (instance.claim()) {
    case SessionInstance::Claim::handedOver:
        return 0;
    case SessionInstance::Claim::unanswered:
        std::fputs("corvel: another Corvel of this session does not answer; starting anyway\n",
                   stderr);
        break;
    case SessionInstance::Claim::owned:
    case SessionInstance::Claim::noBus:
        break;
    }
    CorvelApp corvel(Monitor::systemSources(makeDesktopApplications()),
                     QDBusConnection::sessionBus(), [](const QString& line) {
                         const QByteArray text = line.toLocal8Bit();
                         std::fprintf(stderr, "corvel: %s\n", text.constData());
                     });
    QObject::connect(&instance, &SessionInstance::activated, &corvel, &CorvelApp::openPanel);
    return QApplication::exec();
}

} // namespace corvel
