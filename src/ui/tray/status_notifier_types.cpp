#include "status_notifier_types.h"

#include <QDBusMetaType>

namespace corvel {

void registerStatusNotifierTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<IconPixmapList>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayoutItem>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEventList>();
        // Adaptor slots name these lists by their aliases, and the bus looks parameter
        // types up by that spelling: without the alias names EventGroup is not exported.
        qRegisterMetaType<IconPixmapList>("corvel::IconPixmapList");
        qRegisterMetaType<MenuItemPropertiesList>("corvel::MenuItemPropertiesList");
        qRegisterMetaType<MenuEventList>("corvel::MenuEventList");
        return true;
    }();
    (void)done;
}

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& value)
{
    arg.beginStructure();
    arg << value.width << value.height << value.argb;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& value)
{
    arg.beginStructure();
    arg >> value.width >> value.height >> value.argb;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& value)
{
    arg.beginStructure();
    arg << value.iconName << value.icons << value.title << value.description;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& value)
{
    arg.beginStructure();
    arg >> value.iconName >> value.icons >> value.title >> value.description;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayoutItem& value)
{
    arg.beginStructure();
    arg << value.id << value.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const MenuLayoutItem& child : value.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayoutItem& value)
{
    arg.beginStructure();
    arg >> value.id >> value.properties;
    value.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        const QDBusArgument inner = child.variant().value<QDBusArgument>();
        MenuLayoutItem item;
        inner >> item;
        value.children.append(item);
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& value)
{
    arg.beginStructure();
    arg << value.id << value.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& value)
{
    arg.beginStructure();
    arg >> value.id >> value.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& value)
{
    arg.beginStructure();
    arg << value.id << value.eventId << value.data << value.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& value)
{
    arg.beginStructure();
    arg >> value.id >> value.eventId >> value.data >> value.timestamp;
    arg.endStructure();
    return arg;
}

} // namespace corvel
