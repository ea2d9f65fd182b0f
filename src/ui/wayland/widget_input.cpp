#include "widget_input.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace corvel {

QWidget* WidgetInput::target() const
{
    if (grabber_)
        return grabber_;
    QWidget* child = top_.childAt(at_.toPoint());
    return child ? child : &top_;
}

void WidgetInput::sendMouse(QEvent::Type type, Qt::MouseButton button)
{
    QWidget* to = target();
    const QPointF local = to->mapFrom(&top_, at_);
    const QPointF global = top_.mapToGlobal(at_);
    QMouseEvent event(type, local, at_, global, button, buttons_, modifiers_);
    // QApplication passes an ignored event on to the parents, as for real input.
    QCoreApplication::sendEvent(to, &event);
}

void WidgetInput::moved(QPointF at)
{
    at_ = at;
    sendMouse(QEvent::MouseMove, Qt::NoButton);
}

void WidgetInput::left()
{
    grabber_ = nullptr;
    buttons_ = Qt::NoButton;
}

void WidgetInput::button(Qt::MouseButton button, bool pressed)
{
    if (pressed) {
        if (!buttons_)
            grabber_ = target();
        buttons_ |= button;
        sendMouse(QEvent::MouseButtonPress, button);
        return;
    }
    buttons_ &= ~button;
    sendMouse(QEvent::MouseButtonRelease, button);
    if (!buttons_)
        grabber_ = nullptr;
}

void WidgetInput::wheel(QPoint angle)
{
    QWidget* to = target();
    QWheelEvent event(to->mapFrom(&top_, at_), top_.mapToGlobal(at_), QPoint(), angle, buttons_,
                      modifiers_, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(to, &event);
}

void WidgetInput::key(int key, Qt::KeyboardModifiers modifiers, const QString& text, bool pressed)
{
    modifiers_ = modifiers;
    QWidget* focus = top_.focusWidget();
    QKeyEvent event(pressed ? QEvent::KeyPress : QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(focus ? focus : &top_, &event);
}

} // namespace corvel
