#pragma once

// The item's menu over com.canonical.dbusmenu: one entry that opens the panel. Some hosts
// open an item's menu on a plain click and send Activate only on a double click; this entry
// is how a single click reaches the panel there.

#include "status_notifier_types.h"

#include <QDBusAbstractAdaptor>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace corvel {

class StatusNotifierMenu final : public QObject
{
    Q_OBJECT

public:
    static constexpr int rootId = 0;
    static constexpr int openId = 1;

    explicit StatusNotifierMenu(QObject* parent = nullptr);

    MenuLayoutItem layout(int parentId, int depth) const;
    QVariantMap properties(int id) const;
    // Returns false for an id that is not in the menu.
    bool handleEvent(int id, const QString& eventId);

signals:
    void openRequested();
};

class DBusMenuAdaptor final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(StatusNotifierMenu& menu);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   corvel::MenuLayoutItem& layout);
    corvel::MenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const corvel::MenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    StatusNotifierMenu& menu_;
};

} // namespace corvel
