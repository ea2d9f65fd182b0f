#include "desktop_notification.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace corvel {

void notifyDesktop(const QDBusConnection& bus, const QString& summary, const QString& body)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QStringLiteral("Corvel") << 0u << QStringLiteral("corvel") << summary << body
           << QStringList() << QVariantMap() << -1;
    bus.asyncCall(notify);
}

} // namespace corvel
