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

// Readable on light and dark panels alike: light text on a dark rounded badge.
constexpr QColor badgeColor(24, 24, 24, 220);
constexpr QColor textColor(255, 255, 255);

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

// The user's interface font where its digits are all one width (so the figure never changes
// width), else the system's fixed-width font.
QFont baseFont()
{
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(20);
    if (!hasEqualDigits(font)) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setBold(true);
    }
    // Slightly narrowed, so "100%" fits a 22-pixel slot at a readable size.
    font.setStretch(85);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// The widest two lines the box will ever hold are "CPU" over "100%".
QFont fittedFont(const QSizeF& box)
{
    QFont font = baseFont();
    for (int pixels = 14; pixels > 5; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetricsF metrics(font);
        const qreal width = std::max(metrics.horizontalAdvance(QStringLiteral("100%")),
                                     metrics.horizontalAdvance(QStringLiteral("CPU")));
        const qreal height = 2 * metrics.capHeight() + pixels * 0.3;
        if (width <= box.width() && height <= box.height())
            return font;
    }
    return font;
}

} // namespace

LabelLines splitLabel(const QString& label)
{
    const qsizetype blank = label.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {label, {}};
    return {label.left(blank), label.mid(blank + 1)};
}

void paintLabelIcon(QPainter& painter, const QRectF& box, const QString& label)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(badgeColor);
    const qreal radius = box.height() / 7;
    painter.drawRoundedRect(box, radius, radius);

    const qreal inset = std::max<qreal>(1.0, box.width() / 22);
    const QRectF inner = box.adjusted(inset, inset, -inset, -inset);
    const QFont font = fittedFont(inner.size());
    const QFontMetricsF metrics(font);
    const qreal cap = metrics.capHeight();
    const qreal gap = font.pixelSize() * 0.3;
    const qreal top = inner.top() + (inner.height() - (2 * cap + gap)) / 2;
    const std::array<qreal, 2> baselines{top + cap, top + 2 * cap + gap};

    painter.setFont(font);
    painter.setPen(textColor);
    const LabelLines lines = splitLabel(label);
    const std::array<const QString*, 2> texts{&lines.top, &lines.bottom};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const qreal width = metrics.horizontalAdvance(*texts[i]);
        const qreal x = inner.left() + (inner.width() - width) / 2;
        // Whole device pixels for the baseline keep the strokes sharp.
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const qreal y = std::round(baselines[i] * ratio) / ratio;
        painter.drawText(QPointF(x, y), *texts[i]);
    }
    painter.restore();
}

QImage renderLabelIcon(const QString& label, int size, qreal devicePixelRatio)
{
    const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintLabelIcon(painter, QRectF(0, 0, size, size), label);
    return image;
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

IconPixmapList labelIconPixmaps(const QString& label)
{
    return {toIconPixmap(renderLabelIcon(label, 22, 1.0)),
            toIconPixmap(renderLabelIcon(label, 44, 1.0))};
}

void LabelIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State)
{
    const int side = std::min(rect.width(), rect.height());
    const QRectF square(rect.x() + (rect.width() - side) / 2.0,
                        rect.y() + (rect.height() - side) / 2.0, side, side);
    paintLabelIcon(*painter, square, label_);
}

QPixmap LabelIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    return scaledPixmap(size, mode, state, 1.0);
}

QPixmap LabelIconEngine::scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale)
{
    const int side = std::min(size.width(), size.height());
    return QPixmap::fromImage(renderLabelIcon(label_, side, scale));
}

} // namespace corvel
