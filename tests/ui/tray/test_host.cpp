#include "test_host.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTest>

namespace corvel::test {

namespace {
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
} // namespace

TestWatcher::TestWatcher(const QString& address, const QString& connectionName)
    : name_(connectionName)
{
    QDBusConnection bus = QDBusConnection::connectToBus(address, name_);
    ok_ = bus.isConnected() &&
          bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                             QDBusConnection::ExportAllContents) &&
          bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

TestWatcher::~TestWatcher()
{
    // Leaving the bus drops the name, as a watcher that quits or crashes would.
    QDBusConnection::disconnectFromBus(name_);
}

QStringList TestWatcher::items() const
{
    QStringList result;
    for (const Registration& r : registrations_)
        result << r.service;
    return result;
}

void TestWatcher::RegisterStatusNotifierItem(const QString& service)
{
    registrations_.append({service, message().service()});
    emit StatusNotifierItemRegistered(service);
}

void TestWatcher::RegisterStatusNotifierHost(const QString&) {}

TestHost::TestHost(const QString& address, const QString& connectionName)
    : name_(connectionName), bus_(QDBusConnection::connectToBus(address, connectionName))
{}

TestHost::~TestHost()
{
    QDBusConnection::disconnectFromBus(name_);
}

QDBusMessage TestHost::call(const QString& service, const QString& path, const QString& interface,
                            const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    QDBusPendingCall pending = bus_.asyncCall(message, 10'000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 11'000))
        return {};
    return pending.reply();
}

QVariantMap TestHost::properties(const QString& service, const QString& path,
                                 const QString& interface)
{
    const QDBusMessage reply =
        call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("GetAll"), {interface});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(reply.arguments().constFirst());
}

bool TestHost::watchItem(const QString& service)
{
    return bus_.connect(service, itemPath, itemInterface, QStringLiteral("XAyatanaNewLabel"), this,
                        SLOT(onNewLabel(QString, QString))) &&
           bus_.connect(service, itemPath, itemInterface, QStringLiteral("NewToolTip"), this,
                        SLOT(onNewToolTip())) &&
           bus_.connect(service, itemPath, itemInterface, QStringLiteral("NewIcon"), this,
                        SLOT(onNewIcon()));
}

void TestHost::onNewLabel(const QString& label, const QString& guide)
{
    labels << label;
    guides << guide;
}

void TestHost::onNewToolTip()
{
    ++newToolTips;
}

void TestHost::onNewIcon()
{
    ++newIcons;
}

} // namespace corvel::test
