#include "status_notifier_menu.h"

namespace corvel {

StatusNotifierMenu::StatusNotifierMenu(QObject* parent) : QObject(parent)
{
    new DBusMenuAdaptor(*this);
}

QVariantMap StatusNotifierMenu::properties(int id) const
{
    if (id == rootId)
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    if (id == openId) {
        return {{QStringLiteral("label"), tr("Open Corvel")},
                {QStringLiteral("enabled"), true},
                {QStringLiteral("visible"), true}};
    }
    return {};
}

MenuLayoutItem StatusNotifierMenu::layout(int parentId, int depth) const
{
    MenuLayoutItem item{parentId, properties(parentId), {}};
    if (parentId == rootId && depth != 0)
        item.children.append(MenuLayoutItem{openId, properties(openId), {}});
    return item;
}

bool StatusNotifierMenu::handleEvent(int id, const QString& eventId)
{
    if (id != rootId && id != openId)
        return false;
    if (id == openId && eventId == QLatin1String("clicked"))
        emit openRequested();
    return true;
}

DBusMenuAdaptor::DBusMenuAdaptor(StatusNotifierMenu& menu)
    : QDBusAbstractAdaptor(&menu), menu_(menu)
{
    registerStatusNotifierTypes();
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList&,
                                MenuLayoutItem& layout)
{
    layout = menu_.layout(parentId, recursionDepth);
    return 1; // the menu never changes: one revision
}

MenuItemPropertiesList DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids,
                                                           const QStringList& propertyNames)
{
    MenuItemPropertiesList result;
    for (int id : ids) {
        QVariantMap all = menu_.properties(id);
        if (all.isEmpty())
            continue;
        if (!propertyNames.isEmpty()) {
            for (auto it = all.begin(); it != all.end();)
                it = propertyNames.contains(it.key()) ? std::next(it) : all.erase(it);
        }
        result.append(MenuItemProperties{id, all});
    }
    return result;
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name)
{
    return QDBusVariant(menu_.properties(id).value(name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    menu_.handleEvent(id, eventId);
}

QList<int> DBusMenuAdaptor::EventGroup(const MenuEventList& events)
{
    QList<int> unknown;
    for (const MenuEvent& event : events) {
        if (!menu_.handleEvent(event.id, event.eventId))
            unknown.append(event.id);
    }
    return unknown;
}

bool DBusMenuAdaptor::AboutToShow(int)
{
    return false;
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    idErrors.clear();
    for (int id : ids) {
        if (id != StatusNotifierMenu::rootId && id != StatusNotifierMenu::openId)
            idErrors.append(id);
    }
    return {};
}

} // namespace corvel
