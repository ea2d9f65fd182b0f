#include "status_notifier_adaptor.h"

#include "status_notifier_item.h"

namespace corvel {

StatusNotifierAdaptor::StatusNotifierAdaptor(StatusNotifierItem& item)
    : QDBusAbstractAdaptor(&item), item_(item)
{
    registerStatusNotifierTypes();
}

IconPixmapList StatusNotifierAdaptor::iconPixmap() const
{
    return item_.iconPixmaps();
}

corvel::ToolTip StatusNotifierAdaptor::toolTip() const
{
    return item_.toolTip();
}

QDBusObjectPath StatusNotifierAdaptor::menu() const
{
    return QDBusObjectPath(QString::fromLatin1(StatusNotifierItem::menuPath));
}

QString StatusNotifierAdaptor::label() const
{
    return item_.label();
}

QString StatusNotifierAdaptor::accessibleDescription() const
{
    return QStringLiteral("Corvel: ") + item_.label();
}

QString StatusNotifierAdaptor::labelGuide() const
{
    return QString::fromLatin1(StatusNotifierItem::labelGuide);
}

void StatusNotifierAdaptor::Activate(int x, int y)
{
    item_.requestActivation(QPoint(x, y));
}

void StatusNotifierAdaptor::SecondaryActivate(int x, int y)
{
    item_.requestActivation(QPoint(x, y));
}

void StatusNotifierAdaptor::ContextMenu(int x, int y)
{
    // Hosts call this on a right click only when they show no menu of their own; the panel
    // is all we have to show.
    item_.requestActivation(QPoint(x, y));
}

void StatusNotifierAdaptor::Scroll(int, const QString&) {}

void StatusNotifierAdaptor::ProvideXdgActivationToken(const QString&) {}

} // namespace corvel
