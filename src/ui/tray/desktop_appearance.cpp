#include "desktop_appearance.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace corvel {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// The portal's Read wraps the value in one variant more than ReadOne does; either may come.
std::optional<std::uint32_t> schemeValue(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    return ok ? std::optional<std::uint32_t>(scheme) : std::nullopt;
}

std::string text(const QSettings& file, const QString& key)
{
    const QVariant value = file.value(key);
    // QSettings reads "49,54,59" as a list.
    const QString joined = value.userType() == QMetaType::QStringList
                               ? value.toStringList().join(QLatin1Char(','))
                               : value.toString();
    return joined.toStdString();
}

} // namespace

DesktopAppearance::DesktopAppearance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus))
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    files_ = {config + QStringLiteral("/glib-2.0/settings/keyfile"),
              config + QStringLiteral("/gtk-3.0/settings.ini"),
              config + QStringLiteral("/gtk-4.0/settings.ini"),
              config + QStringLiteral("/kdeglobals")};
    // Editors and settings daemons replace files rather than write them in place: the folders
    // are watched for the files' coming back.
    for (const QString& file : files_) {
        const QString folder = QFileInfo(file).absolutePath();
        if (QFileInfo::exists(folder))
            watcher_.addPath(folder);
        if (QFileInfo::exists(file))
            watcher_.addPath(file);
    }
    const auto reread = [this] {
        for (const QString& file : files_)
            if (QFileInfo::exists(file) && !watcher_.files().contains(file))
                watcher_.addPath(file);
        readFiles();
        decide();
    };
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, reread);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, reread);
    readFiles();
    decide();
    if (bus_.isConnected()) {
        bus_.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                     this, SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
        askPortal();
    }
}

void DesktopAppearance::askPortal()
{
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    // Never block on the portal: it may be starting, or absent.
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError())
            return;
        settings_.portal = schemeValue(QVariant::fromValue(reply.value()));
        decide();
    });
}

void DesktopAppearance::portalSettingChanged(const QString& group, const QString& key,
                                             const QDBusVariant& value)
{
    if (group != appearanceGroup || key != colorSchemeKey)
        return;
    settings_.portal = schemeValue(QVariant::fromValue(value));
    decide();
}

void DesktopAppearance::readFiles()
{
    const std::optional<std::uint32_t> portal = settings_.portal;
    settings_ = {};
    settings_.portal = portal;
    // The keyfile store holds the session's settings only when the session uses it.
    if (qgetenv("GSETTINGS_BACKEND") == "keyfile") {
        const QSettings gsettings(files_[0], QSettings::IniFormat);
        settings_.gnomeColorScheme =
            text(gsettings, QStringLiteral("org/gnome/desktop/interface/color-scheme"));
        settings_.gtkTheme =
            text(gsettings, QStringLiteral("org/gnome/desktop/interface/gtk-theme"));
    }
    if (qEnvironmentVariableIsSet("GTK_THEME"))
        settings_.gtkTheme = qgetenv("GTK_THEME").toStdString();
    for (const QString& ini : {files_[1], files_[2]}) {
        const QSettings gtk(ini, QSettings::IniFormat);
        if (settings_.gtkPreferDark.empty())
            settings_.gtkPreferDark =
                text(gtk, QStringLiteral("Settings/gtk-application-prefer-dark-theme"));
        if (settings_.gtkIniTheme.empty())
            settings_.gtkIniTheme = text(gtk, QStringLiteral("Settings/gtk-theme-name"));
    }
    const QSettings kde(files_[3], QSettings::IniFormat);
    settings_.kdeColorScheme = text(kde, QStringLiteral("General/ColorScheme"));
    settings_.kdeWindowBackground = text(kde, QStringLiteral("Colors:Window/BackgroundNormal"));
}

void DesktopAppearance::decide()
{
    const ColorScheme scheme = decideColorScheme(settings_);
    if (scheme == scheme_)
        return;
    scheme_ = scheme;
    emit schemeChanged(scheme);
}

} // namespace corvel
