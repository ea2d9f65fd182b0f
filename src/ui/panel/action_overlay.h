#pragma once

#include "action_runner.h"

#include <functional>
#include <vector>

#include <QWidget>

class QLabel;
class QTimer;
class QVBoxLayout;

namespace corvel {

// A row's actions, drawn by the panel over itself rather than as a window of their own (on
// layer-shell and Xwayland paths a second top-level window would be a stray one): "Quit",
// "Force Quit", "Copy process IDs", then the confirmation and the outcome in the same place.
// Escape closes the overlay only.
class ActionOverlay : public QWidget
{
    Q_OBJECT

public:
    static constexpr int outcomeMs = 4000; // how long an outcome stays
    static constexpr int offerMs = 10000;  // and one that offers Force Quit

    // Covers `parent`; `closer` and `units` as for ActionRunner.
    ActionOverlay(WindowCloser* closer, UnitControl* units, QWidget* parent);

    // Holds the subject's processes and shows its actions.
    void open(const ActionSubject& subject);
    // Hides the overlay and lets the subject go.
    void dismiss();

    ActionRunner& runner() { return *runner_; }
    QString message() const;

signals:
    void openChanged(bool open);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Tab and the arrow keys go round the items, never to the panel under the overlay.
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item
    {
        QString text;
        std::function<void()> act;
        bool enabled = true;
    };
    // A menu: the name as a title over one item a line; else a message over items in a row.
    enum class Shape { menu, message };
    void present(const QString& text, std::vector<Item> items, Shape shape = Shape::message,
                 const QString& note = {});
    void showMenu(ActionRunner::Refusal refusal);
    void quit();
    void confirmStop();
    void confirmForce();
    void report(ActionRunner::Outcome outcome, int remaining);
    void copyPids();

    ActionRunner* runner_;
    QWidget* card_;
    QLabel* text_;
    QLabel* note_;
    QVBoxLayout* items_;
    QTimer* linger_;
};

} // namespace corvel
