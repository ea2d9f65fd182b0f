#include "session_instance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace corvel {
namespace {

// A running Corvel answers at once; one that does not within this is hung or quitting.
constexpr int handOverTimeoutMs = 5000;

} // namespace

SessionInstance::SessionInstance()
    : connectionName_(QStringLiteral("corvel-instance-%1").arg(reinterpret_cast<quintptr>(this)))
{
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    if (!bus.isConnected() || !bus.interface())
        return;
    const QString name = QString::fromLatin1(appId);
    const QString path = QString::fromLatin1(objectPath);
    // The object first: a later start that finds the name taken finds the object there too.
    bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots);
    const auto reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        claim_ = Claim::owned;
        return;
    }
    bus.unregisterObject(path);
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, path, QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage answer = bus.call(call, QDBus::BlockWithGui, handOverTimeoutMs);
    claim_ = answer.type() == QDBusMessage::ReplyMessage ? Claim::handedOver : Claim::unanswered;
}

SessionInstance::~SessionInstance()
{
    QDBusConnection::disconnectFromBus(connectionName_);
}

void SessionInstance::Activate(const QVariantMap&)
{
    emit activated();
}

} // namespace corvel
