#pragma once

#include <QWidget>

namespace corvel {

// Under Xwayland nothing tells an X client about clicks on the compositor's own surfaces, and
// GNOME Shell keeps the keyboard focus where it was when the desktop is clicked. So while the
// panel is shown there, this clear, undecorated window lies over the work area below it, and
// any press on it closes the panel.
class ClickCatcher : public QWidget
{
    Q_OBJECT

public:
    ClickCatcher();

    // Covers `area` (global coordinates), beneath windows shown after it.
    void cover(const QRect& area);

signals:
    void pressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace corvel
