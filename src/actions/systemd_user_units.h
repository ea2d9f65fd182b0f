#pragma once

#include "unit_control.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace corvel {

// The systemd user manager on the session bus (org.freedesktop.systemd1). Calls never wait:
// a manager that does not answer within the bus's timeout is a refusal. The bus is reached
// only once there is something to ask.
class SystemdUserUnits : public UnitControl
{
public:
    void stopUnit(const std::string& unit, Done done) override;
    void killUnit(const std::string& unit, int signal, Done done) override;

private:
    static void call(const QString& method, const QList<QVariant>& arguments, Done done);
};

} // namespace corvel
