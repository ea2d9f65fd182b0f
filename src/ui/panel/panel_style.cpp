#include "panel_style.h"

#include <algorithm>
#include <cmath>

#include <QFontDatabase>
#include <QFontMetricsF>

namespace corvel {
namespace {

QFont scaled(const QFont& base, double factor)
{
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else if (base.pixelSize() > 0)
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(base.pixelSize() * factor))));
    return font;
}

} // namespace

QFont captionFont(const QFont& base)
{
    return scaled(base, 0.85);
}

QFont caption2Font(const QFont& base)
{
    return scaled(base, 0.77);
}

bool hasTabularDigits(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) != zero)
            return false;
    }
    return true;
}

QFont tabularFont(const QFont& base)
{
    if (hasTabularDigits(base))
        return base;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (base.pointSizeF() > 0)
        fixed.setPointSizeF(base.pointSizeF());
    else if (base.pixelSize() > 0)
        fixed.setPixelSize(base.pixelSize());
    return fixed;
}

QColor secondaryColor(const QPalette& palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor placeholder = palette.color(QPalette::PlaceholderText);
    if (placeholder.isValid() && placeholder != text)
        return placeholder;
    QColor dimmed = text;
    dimmed.setAlphaF(0.5f);
    return dimmed;
}

} // namespace corvel
