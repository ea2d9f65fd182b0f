#pragma once

#include "unit_control.h"

#include <QDBusConnection>

namespace corvel {

// The systemd user manager on the session bus (org.freedesktop.systemd1). Calls never wait:
// a manager that does not answer within the bus's timeout is a refusal.
class SystemdUserUnits : public UnitControl
{
public:
    explicit SystemdUserUnits(QDBusConnection bus = QDBusConnection::sessionBus());

    void stopUnit(const std::string& unit, Done done) override;
    void killUnit(const std::string& unit, int signal, Done done) override;

private:
    void call(const QString& method, const QList<QVariant>& arguments, Done done);

    QDBusConnection bus_;
};

} // namespace corvel
