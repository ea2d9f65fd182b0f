#include "widget_input.h"

#include <QCoreApplication>
#include <QEnterEvent>
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

void WidgetInput::hover(QWidget* under)
{
    if (under == hovered_)
        return;
    const auto chain = [this](QWidget* w) {
        QList<QWidget*> widgets;
        for (; w; w = w == &top_ ? nullptr : w->parentWidget())
            widgets.prepend(w); // outermost first
        return widgets;
    };
    const QList<QWidget*> from = chain(hovered_), to = chain(under);
    qsizetype common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common])
        ++common;
    for (qsizetype i = from.size() - 1; i >= common; --i) {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(from[i], &leave);
    }
    hovered_ = under;
    for (qsizetype i = common; i < to.size(); ++i) {
        const QPointF local = to[i]->mapFrom(&top_, at_);
        QEnterEvent enter(local, local, top_.mapToGlobal(at_));
        QCoreApplication::sendEvent(to[i], &enter);
    }
}

void WidgetInput::moved(QPointF at)
{
    at_ = at;
    hover(top_.childAt(at_.toPoint()) ? top_.childAt(at_.toPoint()) : &top_);
    sendMouse(QEvent::MouseMove, Qt::NoButton);
}

void WidgetInput::left()
{
    grabber_ = nullptr;
    buttons_ = Qt::NoButton;
    hover(nullptr);
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
