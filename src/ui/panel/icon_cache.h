#pragma once

// Application icons for the rows, resolved once per icon name or path, and the gear drawn in
// their place when an application has none.

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QPainter;
class QRect;

namespace corvel {

class IconCache
{
public:
    // Paints the icon named by `key` (an icon-theme name or an absolute file path) stretched to
    // fill `cell`; when `key` is empty or names nothing loadable, a gear of its natural size
    // centred in `cell`, in `secondary`.
    void paint(QPainter& painter, const QRect& cell, const QString& key, const QColor& secondary);

    // The icon for `key`, looked up on first use and kept; null when nothing was found.
    QIcon icon(const QString& key);

    // How many distinct keys have been looked up.
    qsizetype size() const { return entries_.size(); }

    static constexpr int gearSize = 16;

private:
    struct Entry
    {
        QIcon icon;
        QPixmap pixmap; // at `dpr`, 20 x 20 or its own aspect
        qreal dpr = 0;
        bool unusable = false; // the icon gave no pixmap: the gear stands in
    };
    Entry& entry(const QString& key);
    const QPixmap& gear(const QColor& color, qreal dpr);

    QHash<QString, Entry> entries_;
    QPixmap gear_;
    QColor gearColor_;
};

} // namespace corvel
