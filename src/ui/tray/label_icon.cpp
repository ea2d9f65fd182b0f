#include "label_icon.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtEndian>

namespace corvel {
namespace {

// On a light bar, light text on a dark badge with a light rim, and a dark glyph with a light
// edge; on a dark bar the other way round. The badge stands out on its bar, the rim on a bar of
// the other kind.
struct Colours
{
    QColor badge, rim, ink, glyph, glyphRim;
};

Colours coloursFor(ColorScheme bar)
{
    if (bar == ColorScheme::dark)
        return {QColor(238, 238, 238, 235), QColor(0, 0, 0, 120), QColor(24, 24, 24),
                QColor(255, 255, 255), QColor(0, 0, 0, 170)};
    return {QColor(24, 24, 24, 235), QColor(255, 255, 255, 120), QColor(255, 255, 255),
            QColor(32, 32, 32), QColor(255, 255, 255, 170)};
}

// Below this many device pixels two lines of text are unreadable: the badge shows the figure.
constexpr int twoLineMinimum = 20;

bool hasEqualDigits(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (!qFuzzyCompare(metrics.horizontalAdvance(QLatin1Char(digit)), zero))
            return false;
    }
    return true;
}

// The interface font where its digits are all one width (so the figure never changes width),
// else the system's fixed-width font; bold and slightly narrowed.
QFont baseFont()
{
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(20);
    if (!hasEqualDigits(font)) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setBold(true);
    }
    font.setStretch(85);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// The largest font at which the widest lines ever shown fit the box. Text grows with the
// font, so the size measured at 20 pixels gives where to start; hinting may need a step down.
QFont fittedFont(const QSizeF& box, const QStringList& widest)
{
    static const QFont base = baseFont();
    QFont font = base;
    const qreal gapShare = widest.size() > 1 ? 0.25 : 0.0;
    const auto fits = [&](int pixels, qreal scale) {
        font.setPixelSize(pixels);
        const QFontMetricsF metrics(font);
        qreal width = 0;
        for (const QString& line : widest)
            width = std::max(width, metrics.horizontalAdvance(line));
        const qreal height = widest.size() * metrics.capHeight() + pixels * gapShare;
        return std::min(box.width() / width, box.height() / height) * scale;
    };
    const int guess = static_cast<int>(fits(20, 20)) + 1;
    for (int pixels = std::min(guess, static_cast<int>(box.height())); pixels > 4; --pixels) {
        if (fits(pixels, 1) >= 1)
            return font;
    }
    return font;
}

QImage blank(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage drawBadge(const QString& label, int pixels, const Colours& colours)
{
    QImage image = blank(pixels);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal rim = std::max(1, pixels / 16);
    const QRectF box = QRectF(0, 0, pixels, pixels).adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2);
    painter.setPen(QPen(colours.rim, rim));
    painter.setBrush(colours.badge);
    painter.drawRoundedRect(box, pixels / 6.0, pixels / 6.0);

    const qsizetype blankAt = label.indexOf(QLatin1Char(' '));
    const QString word = blankAt < 0 ? QString() : label.left(blankAt);
    const QString figure = label.mid(blankAt + 1);
    const bool twoLines = pixels >= twoLineMinimum;
    const QString digits = QString(figure).remove(QLatin1Char('%'));
    const QStringList lines = twoLines ? QStringList{word, figure} : QStringList{digits};
    // Two lines keep one size for every figure; the bare figure grows as large as its digits
    // allow, since a pixel more matters most in the smallest slots.
    const QStringList widest = twoLines ? QStringList{QStringLiteral("CPU"), QStringLiteral("100%")}
                                        : QStringList{QString(digits.size(), QLatin1Char('0'))};
    const qreal pad = rim + std::max<qreal>(1, pixels / 16.0);
    const QRectF inner = QRectF(0, 0, pixels, pixels).adjusted(pad, pad, -pad, -pad);
    const QFont font = fittedFont(inner.size(), widest);
    const QFontMetricsF metrics(font);
    const qreal cap = metrics.capHeight();
    const qreal gap = twoLines ? font.pixelSize() * 0.25 : 0;
    const qreal block = lines.size() * cap + (lines.size() - 1) * gap;
    const qreal top = inner.top() + (inner.height() - block) / 2;
    painter.setFont(font);
    painter.setPen(colours.ink);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qreal x = inner.left() + (inner.width() - metrics.horizontalAdvance(lines[i])) / 2;
        // Whole pixels for the baseline keep the strokes sharp.
        painter.drawText(QPointF(x, std::round(top + cap + i * (cap + gap))), lines[i]);
    }
    return image;
}

// A processor: a square body with three pins a side and the die cut out of its middle.
QImage drawGlyph(int pixels, const Colours& colours)
{
    QImage image = blank(pixels);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = pixels / 16.0;
    const qreal body = std::round(10 * unit);
    const qreal origin = (pixels - body) / 2;
    const qreal pin = std::max<qreal>(1, std::round(1.25 * unit));
    const qreal reach = std::round(2 * unit);

    QPainterPath shape;
    shape.setFillRule(Qt::OddEvenFill);
    shape.addRoundedRect(QRectF(origin, origin, body, body), unit, unit);
    const qreal die = std::round(4 * unit);
    shape.addRect(QRectF((pixels - die) / 2, (pixels - die) / 2, die, die));
    QPainterPath pins;
    for (const qreal share : {0.2, 0.5, 0.8}) {
        const qreal along = std::round(origin + share * body - pin / 2);
        pins.addRect(QRectF(along, origin - reach, pin, reach));
        pins.addRect(QRectF(along, origin + body, pin, reach));
        pins.addRect(QRectF(origin - reach, along, reach, pin));
        pins.addRect(QRectF(origin + body, along, reach, pin));
    }
    const QPainterPath whole = shape.united(pins);
    painter.strokePath(whole, QPen(colours.glyphRim, std::max<qreal>(1.5, 1.5 * unit)));
    painter.fillPath(whole, colours.glyph);
    return image;
}

} // namespace

QImage renderItemIcon(IconStyle style, const QString& label, int pixels, ColorScheme bar)
{
    const Colours colours = coloursFor(bar);
    return style == IconStyle::glyph ? drawGlyph(pixels, colours)
                                     : drawBadge(label, pixels, colours);
}

IconPixmap toIconPixmap(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    IconPixmap result;
    result.width = argb.width();
    result.height = argb.height();
    result.argb.resize(static_cast<qsizetype>(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<uchar*>(result.argb.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4)
            qToBigEndian(line[x], out);
    }
    return result;
}

IconPixmapList itemIconPixmaps(IconStyle style, const QString& label, ColorScheme bar)
{
    // 16 to 48 at 1x and 2x, and 18 and 20 for bars that size the icon to their font.
    static constexpr std::array sizes{16, 18, 20, 22, 24, 32, 36, 44, 48, 64, 96};
    IconPixmapList result;
    for (const int size : sizes)
        result.append(toIconPixmap(renderItemIcon(style, label, size, bar)));
    return result;
}

void LabelIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State)
{
    const int side = std::min(rect.width(), rect.height());
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QImage image = renderItemIcon(IconStyle::badge, label_, qRound(side * ratio), bar_);
    image.setDevicePixelRatio(ratio);
    painter->drawImage(QRectF(rect.x() + (rect.width() - side) / 2.0,
                              rect.y() + (rect.height() - side) / 2.0, side, side),
                       image);
}

QPixmap LabelIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

// Qt asks for `size` in device pixels.
QPixmap LabelIconEngine::scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale)
{
    QImage image =
        renderItemIcon(IconStyle::badge, label_, std::min(size.width(), size.height()), bar_);
    image.setDevicePixelRatio(scale);
    return QPixmap::fromImage(image);
}

} // namespace corvel
