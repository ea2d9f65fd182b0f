#pragma once

// The status item's label drawn as a small square picture: "CPU" over the figure with its
// percent sign, for status areas that show an icon and no text (XEmbed trays, hosts that
// ignore the label property).

#include "status_notifier_types.h"

#include <utility>

#include <QIconEngine>
#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

namespace corvel {

// The two lines of a label: its first word, and the rest ("CPU 12%" -> "CPU", "12%").
struct LabelLines
{
    QString top;
    QString bottom;
};
LabelLines splitLabel(const QString& label);

// Draws the label into `box` (logical pixels) of a painter, whatever its device pixel ratio.
void paintLabelIcon(QPainter& painter, const QRectF& box, const QString& label);

// The label in a square of `size` logical pixels at the given device pixel ratio.
QImage renderLabelIcon(const QString& label, int size, qreal devicePixelRatio);

// ARGB32 pixels in network byte order, unpremultiplied, as StatusNotifierItem hosts read them.
IconPixmap toIconPixmap(const QImage& image);

// The label at 22 and 44 pixels, for hosts to pick the size they show.
IconPixmapList labelIconPixmaps(const QString& label);

// An icon that draws the label at whatever size and pixel ratio it is asked for, so a tray
// slot of any size gets sharp text instead of a scaled picture.
class LabelIconEngine final : public QIconEngine
{
  public:
    explicit LabelIconEngine(QString label) : label_(std::move(label)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QIconEngine* clone() const override { return new LabelIconEngine(label_); }
    QString key() const override { return QStringLiteral("corvel-label"); }

  private:
    QString label_;
};

} // namespace corvel
