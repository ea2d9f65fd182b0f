#pragma once

// The composite D-Bus types of the StatusNotifierItem and com.canonical.dbusmenu interfaces,
// with their marshalling. registerStatusNotifierTypes() must run before any of them crosses
// the bus.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace corvel {

// One picture of an icon: (iiay), pixels as ARGB32 in network byte order.
struct IconPixmap
{
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmapList = QList<IconPixmap>;

// (sa(iiay)ss): icon name, icon pictures, title, description.
struct ToolTip
{
    QString iconName;
    IconPixmapList icons;
    QString title;
    QString description;
};

// A menu entry with its children: (ia{sv}av), each child a variant holding the same type.
struct MenuLayoutItem
{
    int id = 0;
    QVariantMap properties;
    QList<MenuLayoutItem> children;
};

// An entry's properties alone: (ia{sv}).
struct MenuItemProperties
{
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// One event of EventGroup: (isvu).
struct MenuEvent
{
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

void registerStatusNotifierTypes();

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& value);
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayoutItem& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayoutItem& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& value);

} // namespace corvel

Q_DECLARE_METATYPE(corvel::IconPixmap)
Q_DECLARE_METATYPE(corvel::ToolTip)
Q_DECLARE_METATYPE(corvel::MenuLayoutItem)
Q_DECLARE_METATYPE(corvel::MenuItemProperties)
Q_DECLARE_METATYPE(corvel::MenuEvent)
