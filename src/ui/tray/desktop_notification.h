#pragma once

#include <QDBusConnection>
#include <QString>

namespace corvel {

// Shows one desktop notification from Corvel through the session's notification server. No
// reply is awaited: a session without one still has the line on the terminal.
void notifyDesktop(const QDBusConnection& bus, const QString& summary, const QString& body);

} // namespace corvel
