#include "click_catcher.h"

#include <QMouseEvent>

namespace corvel {

ClickCatcher::ClickCatcher()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("clickCatcher"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void ClickCatcher::cover(const QRect& area)
{
    // A fixed size keeps the window manager from maximizing a window this large.
    setFixedSize(area.size());
    move(area.topLeft());
    show();
}

void ClickCatcher::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit pressed();
}

} // namespace corvel
