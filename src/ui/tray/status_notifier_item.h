#pragma once

#include "label_icon.h"
#include "status_notifier_types.h"

#include <chrono>

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

namespace corvel {

class StatusNotifierAdaptor;
class StatusNotifierMenu;

// Our item in a StatusNotifierItem status area (freedesktop StatusNotifierItem, with the
// Ayatana label extension): it exports /StatusNotifierItem and the menu at /MenuBar and
// registers them with the watcher by the connection's unique name, whenever a watcher comes
// on the bus. It then checks the watcher's list of items, often at first and then once a
// minute, and registers again when it is missing from it: some hosts drop an item they have
// just shown.
class StatusNotifierItem final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* menuPath = "/MenuBar";
    // The widest label, so hosts that show it reserve room for every figure.
    static constexpr const char* labelGuide = "CPU 100%";

    StatusNotifierItem(QDBusConnection bus, QString label, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether a watcher owns its name on this bus right now.
    static bool watcherPresent(const QDBusConnection& bus);
    bool watcherOnBus() const { return watcherPresent(bus_); }

    // Exports the objects; false when the bus is not there.
    bool publish();
    // Whether the watcher lists the item, as of the last check.
    bool listedByWatcher() const { return listed_; }

    const QString& label() const { return label_; }
    // Updates the label, the icon and the tooltip (the label over `details`) and tells the
    // hosts what changed; nothing at all when neither text did.
    void setLabel(const QString& label, const QString& details);
    // No tooltip while the panel is open: the host would draw it over the panel.
    void setToolTipShown(bool shown);
    // The desktop's colours: the icon is drawn to stand out on a bar of that kind.
    void setColorScheme(ColorScheme scheme);

    const IconPixmapList& iconPixmaps() const;
    ToolTip toolTip() const;

    // From the adaptor: a click, a menu choice, or an activation through the host.
    void requestActivation(QPoint at);

signals:
    // Open or close the panel next to this global point.
    void activationRequested(QPoint at);
    void watcherAppeared();
    void watcherVanished();

private slots:
    void checkListed();

private:
    // The first check soon after registering, since hosts drop items within a second or two;
    // then ever further apart, to one check a minute.
    static constexpr std::chrono::milliseconds firstCheck{1000};
    static constexpr std::chrono::milliseconds steadyCheck{60'000};
    static constexpr std::chrono::milliseconds toolTipBackDelay{1000};

    void registerWithWatcher();
    void onWatcherOwnerChanged(const QString& newOwner);
    void chooseIconStyle();

    QDBusConnection bus_;
    QString label_;
    QString details_;
    IconStyle iconStyle_ = IconStyle::badge;
    ColorScheme desktopScheme_ = ColorScheme::light;
    bool hostBarDark_ = false; // a host whose bar is dark whatever the desktop's colours
    bool toolTipShown_ = true;
    bool plainToolTip_ = false; // a host that shows the tooltip's text as it is, not as markup
    mutable IconPixmapList icon_;
    mutable bool iconCurrent_ = false;
    StatusNotifierAdaptor* adaptor_;
    StatusNotifierMenu* menu_;
    QDBusServiceWatcher watcher_;
    QTimer recheck_;
    QTimer toolTipBack_;
    std::chrono::milliseconds nextCheck_ = firstCheck;
    bool published_ = false;
    bool listed_ = false;
};

} // namespace corvel
