#pragma once

#include "monitor.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QDBusConnection>
#include <QObject>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>

namespace corvel {

class DesktopAppearance;
class LayerPanel;
class PopoverView;
class StatusNotifierItem;
class XEmbedTrayItem;

// The running program: the one Monitor, the status item showing its total as "CPU 12%", and
// the panel a click on the item opens. The item goes where the session has room for it: a
// StatusNotifierItem when a watcher is on the bus, else an XEmbed tray icon, else nowhere
// until one of the two appears. A session that still has neither after `noticeDelay` gets one
// desktop notification saying what to install, and one line for the terminal.
class CorvelApp final : public QObject
{
    Q_OBJECT

public:
    enum class Area { waiting, statusNotifier, xembed };
    // Receives the one-line notes meant for the user's terminal.
    using Notice = std::function<void(const QString&)>;

    CorvelApp(Monitor::Sources sources, QDBusConnection bus, Notice notice,
              std::chrono::milliseconds noticeDelay = std::chrono::seconds(10));
    ~CorvelApp() override;

    Monitor& monitor() { return monitor_; }
    const QString& label() const { return label_; }
    // The busiest applications, one a line, for the item's tooltip under the label.
    const QString& details() const { return details_; }
    Area area() const { return area_; }
    StatusNotifierItem* statusNotifierItem() const { return statusNotifier_.get(); }
    // Null until the item is first clicked.
    PopoverView* panel() const { return panel_.get(); }

    // Shows the panel next to `anchor`, or hides it when it is showing. Without an anchor, it
    // goes where the item was last clicked, else to the top right corner.
    void togglePanel(std::optional<QRect> anchor);
    // Shows the panel, without a click to place it by, unless it is showing.
    void openPanel();

private:
    void updateItem();
    void chooseArea();
    void tellNoArea();
    void applyColorScheme();
    QRect fallbackAnchor() const;

    Monitor monitor_;
    Notice notice_;
    QString label_;
    QString details_;
    Area area_ = Area::waiting;
    std::unique_ptr<StatusNotifierItem> statusNotifier_;
    std::unique_ptr<XEmbedTrayItem> xembed_;
    std::unique_ptr<PopoverView> panel_;
    std::optional<QRect> lastAnchor_;        // where the item was last clicked
    std::unique_ptr<LayerPanel> layerPanel_; // on compositors with the layer shell
    std::unique_ptr<DesktopAppearance> appearance_;
    QPalette platformPalette_; // Qt's own, before ours replaces it
    QTimer trayPoll_;          // while waiting: has a system tray appeared?
    QTimer watcherGrace_;      // after a watcher leaves: give a restarting one time to return
    QTimer noticeDelay_;       // while waiting: a desktop still starting gets time to show a panel
    QDBusConnection bus_;
    bool waitNoticeGiven_ = false;
};

// Builds the application object and the item and runs the event loop; returns its status.
int runStatusItem(int& argc, char** argv);

} // namespace corvel
