#include "systemd_user_units.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace corvel {

void SystemdUserUnits::stopUnit(const std::string& unit, Done done)
{
    // "replace": a stop replaces whatever job the unit has queued, as `systemctl stop` does.
    call(QStringLiteral("StopUnit"), {QString::fromStdString(unit), QStringLiteral("replace")},
         std::move(done));
}

void SystemdUserUnits::killUnit(const std::string& unit, int signal, Done done)
{
    call(QStringLiteral("KillUnit"),
         {QString::fromStdString(unit), QStringLiteral("all"), QVariant::fromValue<qint32>(signal)},
         std::move(done));
}

void SystemdUserUnits::call(const QString& method, const QList<QVariant>& arguments, Done done)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), method);
    message.setArguments(arguments);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done(false);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(!watcher->isError());
                     });
}

} // namespace corvel
