#pragma once

// The other side of the status item in tests: a StatusNotifierWatcher that records who
// registers, and a host that reads the item's properties and counts its signals. Each lives
// on its own connection to the private bus, as separate programs would.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace corvel::test {

class TestWatcher final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

  public:
    struct Registration
    {
        QString service; // what the item passed
        QString sender;  // the unique name it called from
    };

    // Connects to the bus as `connectionName`, exports itself and claims the watcher's name.
    TestWatcher(const QString& address, const QString& connectionName);
    ~TestWatcher() override;
    bool ok() const { return ok_; }

    const QList<Registration>& registrations() const { return registrations_; }
    bool hostRegistered() const { return true; }
    QStringList items() const;
    int protocolVersion() const { return 0; }

  public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

  signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

  private:
    QString name_;
    bool ok_ = false;
    QList<Registration> registrations_;
};

class TestHost final : public QObject
{
    Q_OBJECT

  public:
    TestHost(const QString& address, const QString& connectionName);
    ~TestHost() override;

    QDBusConnection& bus() { return bus_; }
    // Calls and waits for the reply, letting the event loop run meanwhile (the item answers
    // from this same thread).
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& args = {});
    QVariantMap properties(const QString& service, const QString& path, const QString& interface);
    // Starts counting the item's signals.
    bool watchItem(const QString& service);

    QStringList labels; // XAyatanaNewLabel: label
    QStringList guides; // XAyatanaNewLabel: guide
    int newToolTips = 0;
    int newIcons = 0;

  private slots:
    void onNewLabel(const QString& label, const QString& guide);
    void onNewToolTip();
    void onNewIcon();

  private:
    QString name_;
    QDBusConnection bus_;
};

} // namespace corvel::test
