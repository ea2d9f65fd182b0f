#pragma once

#include "systemd_user_units.h"
#include "usage_model.h"
#include "window_closer.h"

#include <memory>

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QListView;
class QPushButton;
class QScrollArea;

namespace corvel {

class ActionOverlay;
class ClickCatcher;
class Monitor;
class RowDelegate;

// The panel a click on the status item opens: column labels, the scrolling list of
// applications, the total and "Quit". A frameless popup, 380 points wide.
class PopoverView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 380;
    static constexpr int listHeight = 360;

    // `monitor` must outlive the panel.
    explicit PopoverView(Monitor& monitor, QWidget* parent = nullptr);
    ~PopoverView() override;

    // Shows the panel next to `anchor` (the status item's area, in global coordinates; a
    // 1x1 rectangle for a click point), kept inside the available area of that screen.
    void showAnchored(const QRect& anchor);
    // Hides a shown panel, shows a hidden one: a second click on the item closes it.
    void toggleAnchored(const QRect& anchor);

    // The rows as shown; they follow the Monitor only while the panel is visible.
    const UsageModel& model() const { return *model_; }

    // Keeps the rows in the order shown while `reason` lasts (for instance while the actions of
    // a row are open); their figures still change. The order catches up once nothing holds it.
    void setHeld(UsageModel::Hold reason, bool held) { model_->setHeld(reason, held); }

signals:
    void shownChanged(bool shown);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool rowKey(QKeyEvent* event);
    void showCurrent();
    void openActions(int row);
    void buildHeader(QHBoxLayout* header);
    void catchUp();
    void showTotal();
    void fitRows();
    void alignHeader();
    void applyStyle();

    Monitor& monitor_;
    UsageModel* model_;
    RowDelegate* delegate_;
    QHBoxLayout* header_ = nullptr;
    QLabel* appLabel_ = nullptr;
    QLabel* cpuLabel_ = nullptr;
    QLabel* memoryLabel_ = nullptr;
    QScrollArea* listArea_ = nullptr;
    QListView* rows_ = nullptr;
    QLabel* total_ = nullptr;
    QPushButton* quit_ = nullptr;
    QElapsedTimer sinceHidden_;
    ClickCatcher* catcher_ = nullptr; // under Xwayland only
    std::unique_ptr<WindowCloser> closer_;
    SystemdUserUnits units_;
    ActionOverlay* actions_ = nullptr;
};

} // namespace corvel
