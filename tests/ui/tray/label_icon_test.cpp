// The item's pictures: every size hosts ask for, each drawn for it and visible on light and
// dark bars. Leaves label_icons.png (16, 18 and 22 px on a light and a dark bar, enlarged) in
// the build folder for people to look at.

#include "label_icon.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>

using namespace corvel;

namespace {

QImage onBar(const QImage& icon, QColor bar)
{
    QImage out(icon.size(), QImage::Format_RGB32);
    out.fill(bar);
    QPainter(&out).drawImage(0, 0, icon);
    return out;
}

// How far the left edge of the picture, along its middle row, stands out from the bar.
int edgeContrast(const QImage& icon, QColor bar)
{
    const QImage shown = onBar(icon, bar);
    const int y = icon.height() / 2;
    int x = 0;
    while (x < icon.width() && qAlpha(icon.pixel(x, y)) < 128)
        ++x;
    int best = 0;
    for (const int end = std::min(icon.width(), x + std::max(3, icon.width() / 8)); x < end; ++x)
        best = std::max(best, std::abs(qGray(shown.pixel(x, y)) - qGray(bar.rgb())));
    return best;
}

// Separate bands of rows holding light text on the badge.
int inkBands(const QImage& icon)
{
    const QImage shown = onBar(icon, Qt::black);
    int bands = 0;
    for (int y = 0, previous = 0; y < icon.height(); ++y) {
        int ink = 0;
        for (int x = icon.width() / 4; x < icon.width() * 3 / 4; ++x)
            ink |= qGray(shown.pixel(x, y)) > 170;
        bands += ink > previous;
        previous = ink;
    }
    return bands;
}

TEST(ItemIcon, EverySizeIsDrawnForItselfAndStandsOutOnLightAndDarkBars)
{
    const QString label = QStringLiteral("CPU 100%");
    QList<int> sizes;
    for (const IconPixmap& p : itemIconPixmaps(IconStyle::badge, label))
        sizes << p.width;
    for (const int wanted : {16, 18, 22, 24, 32, 44, 48, 64, 96})
        EXPECT_TRUE(sizes.contains(wanted)) << wanted;
    for (const int size : sizes) {
        for (const IconStyle style : {IconStyle::badge, IconStyle::glyph}) {
            const QImage icon = renderItemIcon(style, label, size);
            for (const QColor bar : {QColor(Qt::white), QColor(Qt::black), QColor(Qt::darkGray)})
                EXPECT_GT(edgeContrast(icon, bar), 60) << size << " on " << qGray(bar.rgb());
        }
        EXPECT_EQ(inkBands(renderItemIcon(IconStyle::badge, label, size)), size < 20 ? 1 : 2)
            << size;
    }
    // The glyph goes beside a label the host draws: it never shows the figure.
    EXPECT_EQ(renderItemIcon(IconStyle::glyph, label, 16),
              renderItemIcon(IconStyle::glyph, QStringLiteral("CPU 3%"), 16));

    QImage sheet(9 * 25, 2 * 25, QImage::Format_RGB32);
    QPainter painter(&sheet);
    int column = 0;
    for (const char* text : {"CPU 37%", "CPU 100%", ""}) {
        for (const int size : {16, 18, 22}) {
            for (const int row : {0, 1}) {
                painter.fillRect(column * 25, row * 25, 25, 25, row ? 0x242424 : 0xeeeeee);
                painter.drawImage(column * 25 + 2, row * 25 + 2,
                                  renderItemIcon(*text ? IconStyle::badge : IconStyle::glyph,
                                                 QLatin1String(text), size));
            }
            ++column;
        }
    }
    painter.end();
    sheet.scaled(sheet.size() * 4)
        .save(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR") + QStringLiteral("/label_icons.png"));
}

TEST(ItemIcon, HostsGetUnpremultipliedNetworkOrderAndTraysGetDevicePixels)
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xff));
    image.setPixel(1, 0, qRgba(0xff, 0x00, 0x00, 0x80)); // half-transparent red
    const IconPixmap out = toIconPixmap(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(out.argb, QByteArray::fromHex("ff11223380ff0000"));

    // Qt asks the tray's icon for device pixels: a 24-point slot at 2x gets 48 drawn pixels.
    const QPixmap pixmap =
        QIcon(new LabelIconEngine(QStringLiteral("CPU 7%"))).pixmap(QSize(24, 24), 2.0);
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
              renderItemIcon(IconStyle::badge, QStringLiteral("CPU 7%"), 48)
                  .convertToFormat(QImage::Format_ARGB32));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
