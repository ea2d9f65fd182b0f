#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace corvel {

// One Corvel per session. The first to start owns the application's name on the session bus;
// a later start asks the owner to open its panel and leaves. The name is owned on a connection
// of its own that exports nothing but org.freedesktop.Application: on the item's connection,
// hosts that search the bus's names for status items would find the item under the name too.
class SessionInstance final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static constexpr const char* appId = "org.example.corvel";
    static constexpr const char* objectPath = "/org/example/corvel";

    enum class Claim {
        owned,      // we are the session's Corvel
        handedOver, // another one runs and opens its panel
        unanswered, // another one owns the name but did not answer: we run beside it
        noBus,      // no session bus: as if alone
    };

    // Owns the name, or hands over to its owner, before returning.
    SessionInstance();
    ~SessionInstance() override;

    Claim claim() const { return claim_; }

public slots:
    // A later start's request; platform data (activation tokens) is not used.
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

signals:
    void activated();

private:
    QString connectionName_;
    Claim claim_ = Claim::noBus;
};

} // namespace corvel
