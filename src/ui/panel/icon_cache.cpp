#include "icon_cache.h"

#include <cmath>
#include <numbers>

#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QRect>

namespace corvel {
namespace {

// A gear of `size` device pixels: eight teeth around a ring with a hole, in the unit's centre.
QPainterPath gearPath(qreal size)
{
    const qreal c = size / 2;
    const qreal outer = size / 2;
    const qreal body = size * 0.36;
    const qreal hole = size * 0.15;
    const qreal toothHalfWidth = size * 0.09;

    QPainterPath gear;
    gear.addEllipse(QPointF(c, c), body, body);
    for (int k = 0; k < 8; ++k) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-toothHalfWidth, -outer, 2 * toothHalfWidth, outer),
                             size * 0.03, size * 0.03);
        QTransform turn;
        turn.translate(c, c);
        turn.rotate(45.0 * k);
        gear = gear.united(turn.map(tooth));
    }
    QPainterPath centre;
    centre.addEllipse(QPointF(c, c), hole, hole);
    return gear.subtracted(centre);
}

} // namespace

IconCache::Entry& IconCache::entry(const QString& key)
{
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        Entry fresh;
        if (key.startsWith(QLatin1Char('/')))
            fresh.icon = QIcon(key);
        else if (!key.isEmpty())
            fresh.icon = QIcon::fromTheme(key);
        // A path's file is only read when a pixmap is asked for: ask now, so a missing or
        // unreadable file shows the gear from the start.
        fresh.unusable = fresh.icon.isNull() || fresh.icon.pixmap(QSize(20, 20)).isNull();
        it = entries_.insert(key, fresh);
    }
    return *it;
}

QIcon IconCache::icon(const QString& key)
{
    const Entry& found = entry(key);
    return found.unusable ? QIcon() : found.icon;
}

const QPixmap& IconCache::gear(const QColor& color, qreal dpr)
{
    if (gear_.isNull() || gearColor_ != color || gear_.devicePixelRatio() != dpr) {
        const int side = static_cast<int>(std::ceil(gearSize * dpr));
        gear_ = QPixmap(side, side);
        gear_.fill(Qt::transparent);
        QPainter p(&gear_);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(gearPath(side), color);
        p.end();
        gear_.setDevicePixelRatio(dpr);
        gearColor_ = color;
    }
    return gear_;
}

void IconCache::paint(QPainter& painter, const QRect& cell, const QString& key,
                      const QColor& secondary)
{
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    Entry& found = entry(key);
    if (!found.unusable && found.dpr != dpr) {
        found.pixmap = found.icon.pixmap(cell.size(), dpr);
        found.dpr = dpr;
        found.unusable = found.pixmap.isNull();
    }
    if (found.unusable) {
        const QPixmap& symbol = gear(secondary, dpr);
        const QRect target(cell.left() + (cell.width() - gearSize) / 2,
                           cell.top() + (cell.height() - gearSize) / 2, gearSize, gearSize);
        painter.drawPixmap(target, symbol);
        return;
    }
    // Stretched to the cell whatever the image's own proportions.
    painter.drawPixmap(QRectF(cell), found.pixmap, QRectF(found.pixmap.rect()));
}

} // namespace corvel
