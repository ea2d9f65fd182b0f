#pragma once

#include "label_icon.h"
#include "status_notifier_types.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QPoint>
#include <QString>

namespace corvel {

class StatusNotifierAdaptor;
class StatusNotifierMenu;

// Our item in a StatusNotifierItem status area (freedesktop StatusNotifierItem, with the
// Ayatana label extension): it owns the bus name org.kde.StatusNotifierItem-<pid>-<n>, exports
// /StatusNotifierItem and the menu at /MenuBar, and registers with the watcher whenever one
// is on the bus, so a watcher that starts late or restarts still learns of it.
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

    // Claims the name and exports the objects; false when the bus is not there.
    bool publish();
    const QString& serviceName() const { return service_; }
    bool registeredWithWatcher() const { return registered_; }

    const QString& label() const { return label_; }
    // Updates the label, the icon and the tooltip and tells the hosts; nothing at all when
    // the text is unchanged.
    void setLabel(const QString& label);

    const IconPixmapList& iconPixmaps() const { return icon_; }
    ToolTip toolTip() const;

    // From the adaptor: a click, a menu choice, or an activation through the host.
    void requestActivation(QPoint at);

  signals:
    // Open or close the panel next to this global point.
    void activationRequested(QPoint at);
    void watcherAppeared();
    void watcherVanished();
    void registered();

  private:
    void registerWithWatcher();
    void onWatcherOwnerChanged(const QString& newOwner);

    QDBusConnection bus_;
    QString service_;
    QString label_;
    IconStyle iconStyle_ = IconStyle::badge;
    IconPixmapList icon_;
    StatusNotifierAdaptor* adaptor_;
    StatusNotifierMenu* menu_;
    QDBusServiceWatcher watcher_;
    bool published_ = false;
    bool registered_ = false;
};

} // namespace corvel
