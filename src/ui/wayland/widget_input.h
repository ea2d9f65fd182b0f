#pragma once

// Hands pointer and key input from a surface of our own to a widget tree that Qt keeps off
// screen, as Qt would deliver it to a window it showed itself.

#include <QEvent>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace corvel {

class WidgetInput
{
public:
    explicit WidgetInput(QWidget& top) : top_(top) {}

    // `at` in `top`'s coordinates.
    void moved(QPointF at);
    void left();
    void button(Qt::MouseButton button, bool pressed);
    void wheel(QPoint angle);
    // To the focus widget inside `top`, else to `top`; unhandled keys go up to its parents.
    void key(int key, Qt::KeyboardModifiers modifiers, const QString& text, bool pressed);

private:
    QWidget* target() const;
    void sendMouse(QEvent::Type type, Qt::MouseButton button);
    // Leave to the widgets the pointer left, Enter to those it entered, as Qt sends them.
    void hover(QWidget* under);

    QWidget& top_;
    QPointer<QWidget> grabber_; // takes every pointer event while a button is held
    QPointer<QWidget> hovered_; // the widget the pointer is over; null when outside
    QPointF at_;
    Qt::MouseButtons buttons_;
    Qt::KeyboardModifiers modifiers_;
};

} // namespace corvel
