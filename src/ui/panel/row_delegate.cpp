#include "row_delegate.h"

#include "panel_style.h"
#include "row_layout.h"
#include "usage_model.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

namespace corvel {

RowDelegate::RowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

const RowDelegate::Fonts& RowDelegate::fontsFor(const QFont& base) const
{
    if (!fonts_ || base_ != base) {
        const QFont count = caption2Font(base);
        const QFont digits = tabularFont(base);
        fonts_.reset(new Fonts{base, count, digits, QFontMetricsF(base), QFontMetricsF(count),
                               QFontMetricsF(digits)});
        base_ = base;
    }
    return *fonts_;
}

int RowDelegate::rowHeightFor(const QFont& font) const
{
    const Fonts& f = fontsFor(font);
    const qreal tallest =
        std::max({f.nameMetrics.height(), f.countMetrics.height(), f.digitMetrics.height()});
    return rowHeight(static_cast<int>(std::ceil(tallest)));
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), rowHeightFor(option.font)};
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const
{
    const Fonts& f = fontsFor(option.font);
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString count = index.data(UsageModel::CountTextRole).toString();
    const QString cpu = index.data(UsageModel::CpuTextRole).toString();
    const QString memory = index.data(UsageModel::MemoryTextRole).toString();

    // Rounded to whole pixels upwards: a width rounded down would make eliding cut the name.
    const auto widthOf = [](const QFontMetricsF& metrics, const QString& text) {
        return static_cast<int>(std::ceil(metrics.horizontalAdvance(text)));
    };
    const RowGeometry g = layoutRow(option.rect, widthOf(f.nameMetrics, name),
                                    count.isEmpty() ? 0 : widthOf(f.countMetrics, count));
    const QColor primary = option.palette.color(QPalette::WindowText);
    const QColor secondary = secondaryColor(option.palette);
    constexpr auto leading = Qt::AlignLeft | Qt::AlignVCenter;
    constexpr auto trailing = Qt::AlignRight | Qt::AlignVCenter;

    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    icons_.paint(*painter, g.icon, index.data(UsageModel::IconKeyRole).toString(), secondary);

    painter->setPen(primary);
    painter->setFont(f.name);
    painter->drawText(g.name, leading,
                      f.nameMetrics.elidedText(name, Qt::ElideRight, g.name.width()));
    if (!g.count.isEmpty()) {
        painter->setPen(secondary);
        painter->setFont(f.count);
        painter->drawText(g.count, leading, count);
    }
    painter->setFont(f.digits);
    painter->setPen(primary);
    painter->drawText(g.cpu, trailing, cpu);
    painter->setPen(secondary);
    painter->drawText(g.memory, trailing, memory);
    painter->restore();
}

} // namespace corvel
