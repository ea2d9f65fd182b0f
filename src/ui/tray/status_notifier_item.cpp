#include "status_notifier_item.h"

#include "label_icon.h"
#include "status_notifier_adaptor.h"
#include "status_notifier_menu.h"

#include <atomic>

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace corvel {
namespace {

QString nextServiceName()
{
    static std::atomic<int> count{0};
    return QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
        .arg(QCoreApplication::applicationPid())
        .arg(++count);
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QString label, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), service_(nextServiceName()), label_(std::move(label)),
      icon_(itemIconPixmaps(iconStyle_, label_)), adaptor_(nullptr), menu_(new StatusNotifierMenu(this)),
      watcher_(QString::fromLatin1(watcherService), bus_, QDBusServiceWatcher::WatchForOwnerChange)
{
    registerStatusNotifierTypes();
    adaptor_ = new StatusNotifierAdaptor(*this);
    connect(menu_, &StatusNotifierMenu::openRequested, this,
            [this] { requestActivation(QCursor::pos()); });
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                onWatcherOwnerChanged(newOwner);
            });
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (published_) {
        bus_.unregisterObject(QString::fromLatin1(menuPath));
        bus_.unregisterObject(QString::fromLatin1(itemPath));
        bus_.unregisterService(service_);
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
    if (!bus_.registerService(service_)) {
        bus_.unregisterObject(QString::fromLatin1(menuPath));
        bus_.unregisterObject(QString::fromLatin1(itemPath));
        return false;
    }
    published_ = true;
    if (watcherPresent(bus_))
        registerWithWatcher();
    return true;
}

void StatusNotifierItem::setLabel(const QString& label)
{
    if (label == label_)
        return;
    label_ = label;
    icon_ = itemIconPixmaps(iconStyle_, label_);
    if (!published_)
        return;
    emit adaptor_->XAyatanaNewLabel(label_, QString::fromLatin1(labelGuide));
    emit adaptor_->NewIcon();
    emit adaptor_->NewToolTip();
}

ToolTip StatusNotifierItem::toolTip() const
{
    return ToolTip{{}, {}, label_, {}};
}

void StatusNotifierItem::requestActivation(QPoint at)
{
    emit activationRequested(at);
}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), QStringLiteral("/StatusNotifierWatcher"),
        QString::fromLatin1(watcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    // Never block the interface on the watcher: it may be slow, or be us in a test.
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            registered_ = false;
            return;
        }
        registered_ = true;
        emit registered();
    });
}

void StatusNotifierItem::onWatcherOwnerChanged(const QString& newOwner)
{
    registered_ = false;
    if (newOwner.isEmpty()) {
        emit watcherVanished();
        return;
    }
    emit watcherAppeared();
    if (published_)
        registerWithWatcher();
}

} // namespace corvel
