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

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

QPalette paletteFor(ColorScheme scheme, const QPalette& platform)
{
    const bool dark = scheme == ColorScheme::dark;
    if (isDark(platform) == dark)
        return platform;
    // Grey steps as light and dark desktop themes draw their popups, with their usual blue.
    const auto grey = [dark](int light, int darkValue) {
        const int v = dark ? darkValue : light;
        return QColor(v, v, v);
    };
    const QColor text = grey(30, 238), window = grey(246, 45);
    QPalette palette(text, grey(236, 58), grey(255, 74), grey(160, 26), grey(192, 38), text,
                     grey(255, 255), grey(255, 30), window);
    palette.setColor(QPalette::Midlight, grey(240, 64));
    palette.setColor(QPalette::Shadow, grey(120, 0));
    palette.setColor(QPalette::AlternateBase, grey(246, 38));
    palette.setColor(QPalette::PlaceholderText, grey(110, 160));
    palette.setColor(QPalette::ToolTipBase, grey(255, 58));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Highlight, QColor(53, 132, 228));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, dark ? QColor(120, 174, 237) : QColor(26, 95, 180));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, grey(150, 120));
    return palette;
}

} // namespace corvel
