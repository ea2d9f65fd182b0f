#include "row_delegate.h"

#include "panel_style.h"
#include "row_layout.h"
#include "usage_model.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

namespace corvel {
namespace {

constexpr qreal focusRingWidth = 2;
constexpr qreal focusRingRadius = 4;

} // namespace

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
    const bool line = index.data(UsageModel::KindRole).toInt() != 0;
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString count = index.data(UsageModel::CountTextRole).toString();
    const QString cpu = index.data(UsageModel::CpuTextRole).toString();
    const QString memory = index.data(UsageModel::MemoryTextRole).toString();

    // Rounded to whole pixels upwards: a width rounded down would make eliding cut the name.
    const auto widthOf = [](const QFontMetricsF& metrics, const QString& text) {
        return static_cast<int>(std::ceil(metrics.horizontalAdvance(text)));
    };
    // A process's line is indented under its application's name, its columns where the rows'
    // are: the room left of the name is the icon cell's, left empty.
    const QRect rect = line ? option.rect.adjusted(rowmetrics::lineIndent, 0, 0, 0) : option.rect;
    const RowGeometry g = layoutRow(rect, widthOf(f.nameMetrics, name),
                                    count.isEmpty() ? 0 : widthOf(f.countMetrics, count));
    const QColor primary = option.palette.color(QPalette::WindowText);
    const QColor secondary = secondaryColor(option.palette);
    constexpr auto leading = Qt::AlignLeft | Qt::AlignVCenter;
    constexpr auto trailing = Qt::AlignRight | Qt::AlignVCenter;

    painter->save();
    painter->setOpacity(index.data(UsageModel::OpacityRole).toReal());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    if (!line)
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
    // The keyboard's place in the list: a ring, not a selection; only while the list has the
    // keyboard.
    if (option.state & QStyle::State_HasFocus) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(option.palette.color(QPalette::Highlight), focusRingWidth));
        painter->setBrush(Qt::NoBrush);
        const qreal half = focusRingWidth / 2.0;
        painter->drawRoundedRect(QRectF(option.rect)
                                     .adjusted(rowmetrics::inset / 2.0 + half, half,
                                               -rowmetrics::inset / 2.0 - half, -half),
                                 focusRingRadius, focusRingRadius);
    }
    painter->restore();
}

} // namespace corvel
