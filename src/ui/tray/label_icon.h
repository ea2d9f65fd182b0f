#pragma once

// The status item's picture. Where the host shows no text, the label itself drawn as a badge:
// "CPU" over "37%", or the bare figure where the slot is too small for two lines. Where the
// host draws the label next to the icon, a plain processor glyph, so the text is not shown
// twice. Both are drawn for each pixel size in colours that stand out on the bar (light or dark,
// as the desktop is), with an edge that keeps them visible on a bar of the other kind too.

#include "color_scheme.h"
#include "status_notifier_types.h"

#include <utility>

#include <QIconEngine>
#include <QImage>
#include <QString>

namespace corvel {

enum class IconStyle {
    badge, // the label drawn in the icon
    glyph, // a plain glyph; the host shows the label beside it
};

// The picture drawn for a square of `pixels` device pixels, for a bar of the kind `bar`.
QImage renderItemIcon(IconStyle style, const QString& label, int pixels,
                      ColorScheme bar = ColorScheme::light);

// ARGB32 pixels in network byte order, unpremultiplied, as StatusNotifierItem hosts read them.
IconPixmap toIconPixmap(const QImage& image);

// Every pixel size hosts ask for (16 to 48 logical pixels, at 1x and 2x), each drawn for it.
IconPixmapList itemIconPixmaps(IconStyle style, const QString& label,
                               ColorScheme bar = ColorScheme::light);

// An icon that draws the badge at whatever size and pixel ratio it is asked for, so a tray
// slot of any size gets sharp text instead of a scaled picture.
class LabelIconEngine final : public QIconEngine
{
public:
    explicit LabelIconEngine(QString label, ColorScheme bar = ColorScheme::light)
        : label_(std::move(label)), bar_(bar)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QIconEngine* clone() const override { return new LabelIconEngine(label_, bar_); }
    QString key() const override { return QStringLiteral("corvel-label"); }

private:
    QString label_;
    ColorScheme bar_;
};

} // namespace corvel
