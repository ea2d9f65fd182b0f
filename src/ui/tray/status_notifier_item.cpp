#include "status_notifier_item.h"

#include "label_icon.h"
#include "status_notifier_adaptor.h"
#include "status_notifier_menu.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace corvel {
namespace {

using namespace std::chrono_literals;

const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// Hosts that draw the item's label beside its icon: GNOME Shell's status-item extension, MATE's
// notification area applet and the Unity and Ayatana indicator services. Process names are cut
// to 15 characters.
bool drawsLabel(const std::string& process)
{
    static constexpr const char* hosts[] = {"gnome-shell", "notification-ar", "unity-panel-ser",
                                            "indicator-appli", "ayatana-indicat"};
    return std::any_of(std::begin(hosts), std::end(hosts),
                       [&](const char* host) { return process.rfind(host, 0) == 0; });
}

std::string processName(uint pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString label, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), label_(std::move(label)), adaptor_(nullptr),
      menu_(new StatusNotifierMenu(this)),
      watcher_(QString::fromLatin1(watcherService), bus_, QDBusServiceWatcher::WatchForOwnerChange)
{
    adaptor_ = new StatusNotifierAdaptor(*this);
    connect(menu_, &StatusNotifierMenu::openRequested, this,
            [this] { requestActivation(QCursor::pos()); });
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                onWatcherOwnerChanged(newOwner);
            });
    recheck_.setSingleShot(true);
    connect(&recheck_, &QTimer::timeout, this, &StatusNotifierItem::checkListed);
    toolTipBack_.setSingleShot(true);
    toolTipBack_.setInterval(toolTipBackDelay);
    connect(&toolTipBack_, &QTimer::timeout, adaptor_, &StatusNotifierAdaptor::NewToolTip);
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (published_) {
        bus_.unregisterObject(QString::fromLatin1(menuPath));
        bus_.unregisterObject(QString::fromLatin1(itemPath));
    }
}

bool StatusNotifierItem::watcherPresent(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value();
}

bool StatusNotifierItem::publish()
{
    if (published_)
        return true;
    if (!bus_.isConnected())
        return false;
    if (!bus_.registerObject(QString::fromLatin1(itemPath), this,
                             QDBusConnection::ExportAdaptors) ||
        !bus_.registerObject(QString::fromLatin1(menuPath), menu_,
                             QDBusConnection::ExportAdaptors)) {
        bus_.unregisterObject(QString::fromLatin1(itemPath));
        return false;
    }
    published_ = true;
    // The item's own signal for the watcher dropping it; the periodic check covers watchers
    // that drop items silently.
    bus_.connect(QString::fromLatin1(watcherService), watcherPath,
                 QString::fromLatin1(watcherService),
                 QStringLiteral("StatusNotifierItemUnregistered"), this, SLOT(checkListed()));
    if (watcherPresent(bus_))
        onWatcherOwnerChanged(QStringLiteral("already there"));
    return true;
}

void StatusNotifierItem::setLabel(const QString& label, const QString& details)
{
    if (label == label_ && details == details_)
        return;
    details_ = details;
    const bool newLabel = label != label_;
    label_ = label;
    // The glyph does not show the label: its pixmaps stay.
    iconCurrent_ = iconCurrent_ && (!newLabel || iconStyle_ == IconStyle::glyph);
    if (!published_)
        return;
    emit adaptor_->NewToolTip();
    if (!newLabel)
        return;
    emit adaptor_->XAyatanaNewLabel(label_, QString::fromLatin1(labelGuide));
    if (iconStyle_ == IconStyle::badge)
        emit adaptor_->NewIcon();
}

void StatusNotifierItem::setToolTipShown(bool shown)
{
    if (shown == toolTipShown_)
        return;
    toolTipShown_ = shown;
    toolTipBack_.stop();
    if (!published_)
        return;
    // The tooltip's return is told a moment later: a panel closed by Quit takes the program
    // with it, and a host that asks a program already gone for its tooltip logs an error.
    if (shown)
        toolTipBack_.start();
    else
        emit adaptor_->NewToolTip();
}

void StatusNotifierItem::setColorScheme(ColorScheme scheme)
{
    if (scheme == desktopScheme_)
        return;
    desktopScheme_ = scheme;
    iconCurrent_ = iconCurrent_ && hostBarDark_;
    if (published_ && !hostBarDark_)
        emit adaptor_->NewIcon();
}

const IconPixmapList& StatusNotifierItem::iconPixmaps() const
{
    // Drawn when a host asks, not at every change of the label: with no host, or one that
    // shows the other icon, nothing is drawn.
    if (!iconCurrent_)
        icon_ =
            itemIconPixmaps(iconStyle_, label_, hostBarDark_ ? ColorScheme::dark : desktopScheme_),
        iconCurrent_ = true;
    return icon_;
}

ToolTip StatusNotifierItem::toolTip() const
{
    if (!toolTipShown_)
        return {};
    return ToolTip{{}, {}, label_, plainToolTip_ ? details_ : details_.toHtmlEscaped()};
}

void StatusNotifierItem::requestActivation(QPoint at)
{
    emit activationRequested(at);
}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), watcherPath, QString::fromLatin1(watcherService),
        QStringLiteral("RegisterStatusNotifierItem"));
    // The unique name, not a name of our own: hosts then need no look-up that can race with
    // the name's owner, and one that finds the item by searching the bus names it the same way.
    call << bus_.baseService();
    // Never block the interface on the watcher: it may be slow, or be us in a test.
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        recheck_.start(nextCheck_);
    });
}

void StatusNotifierItem::checkListed()
{
    if (!published_)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), watcherPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString::fromLatin1(watcherService) << QStringLiteral("RegisteredStatusNotifierItems");
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError() && !watcherPresent(bus_))
            return; // gone; its return starts over
        // Watchers list items as the name they registered, or that name followed by the path
        // ("/" or "@").
        const QString self = bus_.baseService();
        const QStringList items = reply.value().variant().toStringList();
        const bool listed = std::any_of(items.begin(), items.end(), [&](const QString& item) {
            return item == self || item.startsWith(self + QLatin1Char('/')) ||
                   item.startsWith(self + QLatin1Char('@'));
        });
        listed_ = listed;
        // Further apart either way, so a watcher that never lists us is not pestered.
        const auto check = nextCheck_;
        nextCheck_ = std::min(nextCheck_ * 2, steadyCheck);
        if (!listed) {
            registerWithWatcher();
            return;
        }
        recheck_.start(check);
    });
}

void StatusNotifierItem::onWatcherOwnerChanged(const QString& newOwner)
{
    listed_ = false;
    recheck_.stop();
    nextCheck_ = firstCheck;
    if (newOwner.isEmpty()) {
        emit watcherVanished();
        return;
    }
    emit watcherAppeared();
    chooseIconStyle();
    if (published_)
        registerWithWatcher();
}

void StatusNotifierItem::chooseIconStyle()
{
    const QDBusReply<uint> pid = bus_.interface()->servicePid(QString::fromLatin1(watcherService));
    const std::string host = pid.isValid() ? processName(pid.value()) : std::string();
    const IconStyle style = drawsLabel(host) ? IconStyle::glyph : IconStyle::badge;
    // GNOME Shell's top bar is dark in light and dark sessions alike.
    const bool barDark = host.rfind("gnome-shell", 0) == 0;
    // Plasma's watcher lives in kded, and Plasma shows a tooltip without tags as plain text;
    // the other hosts read it as markup, where a bare "&" is an error.
    const bool plainTip = host.rfind("kded", 0) == 0;
    if (plainTip != plainToolTip_) {
        plainToolTip_ = plainTip;
        if (published_)
            emit adaptor_->NewToolTip();
    }
    if (style == iconStyle_ && barDark == hostBarDark_)
        return;
    iconStyle_ = style;
    hostBarDark_ = barDark;
    iconCurrent_ = false;
    if (published_)
        emit adaptor_->NewIcon();
}

} // namespace corvel
