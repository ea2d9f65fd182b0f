#pragma once

#include "color_scheme.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>

namespace corvel {

// Whether the desktop is light or dark, kept current. Sources, first answer first: the settings
// portal (which reads GNOME's and KDE's own settings for us, and says when they change); GSettings'
// keyfile store where the session uses it, GTK_THEME and GTK's settings.ini; KDE's kdeglobals.
// GSettings' usual store, dconf, is a binary database: it is read through the portal, not by
// linking GIO. The files are watched, so a change there is seen too.
class DesktopAppearance final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopAppearance(QDBusConnection bus, QObject* parent = nullptr);

    ColorScheme scheme() const { return scheme_; }

signals:
    void schemeChanged(corvel::ColorScheme scheme);

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void askPortal();
    void readFiles();
    void decide();

    QDBusConnection bus_;
    AppearanceSettings settings_;
    ColorScheme scheme_ = ColorScheme::light;
    QStringList files_;
    QFileSystemWatcher watcher_;
};

} // namespace corvel
