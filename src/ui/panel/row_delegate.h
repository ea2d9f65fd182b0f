#pragma once

#include "icon_cache.h"

#include <memory>

#include <QFont>
#include <QFontMetricsF>
#include <QStyledItemDelegate>

namespace corvel {

// Paints one usage row from the texts of a UsageModel index: icon cell, name elided at its
// end, the process count in the smallest dimmed style, then the CPU column and the dimmed
// memory column at the trailing edge, both with equal-width digits. A process's line is the
// same without the icon, indented; an entry that ended fades. Rows are not selectable and have
// no hover look; the row the keyboard is on has a ring.
class RowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RowDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The height of every row for text in `font`.
    int rowHeightFor(const QFont& font) const;

private:
    struct Fonts
    {
        QFont name, count, digits;
        QFontMetricsF nameMetrics, countMetrics, digitMetrics;
    };
    const Fonts& fontsFor(const QFont& base) const;

    mutable IconCache icons_;
    mutable QFont base_;
    mutable std::unique_ptr<Fonts> fonts_;
};

} // namespace corvel
