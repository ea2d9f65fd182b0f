// The item's pictures: every size hosts ask for, each drawn for it, visible on light and dark
// bars, and the byte order hosts read. Leaves label_icons.png (16, 18 and 22 px, light and dark
// bar, enlarged four times) in the build folder for people to look at.

#include "label_icon.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QtEndian>

using namespace corvel;

namespace {

QImage fromIconPixmap(const IconPixmap& p)
{
    QImage image(p.width, p.height, QImage::Format_ARGB32);
    for (int i = 0; i < p.width * p.height; ++i)
        reinterpret_cast<QRgb*>(image.bits())[i] = qFromBigEndian<quint32>(p.argb.constData() + 4 * i);
    return image;
}

QImage onBar(const QImage& icon, QColor bar)
{
    QImage out(icon.size(), QImage::Format_RGB32);
    out.fill(bar);
    QPainter(&out).drawImage(0, 0, icon);
    return out;
}

// Rows holding light text on the badge, counted as separate bands.
int inkBands(const QImage& icon)
{
    int bands = 0;
    bool previous = false;
    for (int y = 0; y < icon.height(); ++y) {
        bool ink = false;
        for (int x = icon.width() / 4; x < icon.width() * 3 / 4; ++x)
            ink = ink || qGray(onBar(icon, Qt::black).pixel(x, y)) > 170;
        bands += ink && !previous;
        previous = ink;
    }
    return bands;
}

// How far the picture's silhouette stands out from the bar: the most any pixel near its edge
// differs from the bar's grey.
int outlineContrast(const QImage& icon, QColor bar)
{
    const QImage shown = onBar(icon, bar);
    const auto clear = [&](int x, int y) {
        return !icon.rect().contains(x, y) || qAlpha(icon.pixel(x, y)) < 128;
    };
    const int reach = std::max(2, icon.width() / 16);
    int best = 0;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            bool edge = false;
            for (int d = -reach; d <= reach && !clear(x, y); ++d)
                edge = edge || clear(x + d, y) || clear(x, y + d);
            if (edge)
                best = std::max(best, std::abs(qGray(shown.pixel(x, y)) - qGray(bar.rgb())));
        }
    }
    return best;
}

TEST(ItemIcon, EverySizeIsDrawnForItselfAndStandsOutOnLightAndDarkBars)
{
    const QString label = QStringLiteral("CPU 100%");
    for (const IconStyle style : {IconStyle::badge, IconStyle::glyph}) {
        QList<int> sizes;
        for (const IconPixmap& p : itemIconPixmaps(style, label)) {
            ASSERT_EQ(p.width, p.height);
            ASSERT_EQ(p.argb.size(), qsizetype(p.width) * p.height * 4);
            sizes << p.width;
            const QImage icon = fromIconPixmap(p);
            for (const QColor bar : {QColor(Qt::white), QColor(Qt::black), QColor(0x30, 0x30, 0x30)})
                EXPECT_GT(outlineContrast(icon, bar), 60) << p.width << " on " << qGray(bar.rgb());
            if (style == IconStyle::badge) {
                EXPECT_EQ(inkBands(icon), p.width < 20 ? 1 : 2) << p.width;
            }
        }
        for (const int wanted : {16, 22, 24, 32, 48, 44, 64, 96})
            EXPECT_TRUE(sizes.contains(wanted)) << wanted;
    }
    // The glyph goes beside a label the host draws: it never shows the figure.
    EXPECT_EQ(itemIconPixmaps(IconStyle::glyph, label).front().argb,
              itemIconPixmaps(IconStyle::glyph, QStringLiteral("CPU 3%")).front().argb);
    EXPECT_NE(itemIconPixmaps(IconStyle::badge, label).front().argb,
              itemIconPixmaps(IconStyle::badge, QStringLiteral("CPU 3%")).front().argb);

    QImage sheet(9 * 50, 2 * 50, QImage::Format_RGB32);
    QPainter painter(&sheet);
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(0, row * 50, sheet.width(), 50, row ? QColor(0x24, 0x24, 0x24) : QColor(0xee, 0xee, 0xee));
        int column = 0;
        for (const auto& [style, text] : {std::pair{IconStyle::badge, "CPU 37%"}, {IconStyle::badge, "CPU 100%"}, {IconStyle::glyph, ""}}) {
            for (const int size : {16, 18, 22})
                painter.drawImage(QRect(column++ * 50 + 3, row * 50 + 3, size * 2, size * 2), renderItemIcon(style, QLatin1String(text), size));
        }
    }
    painter.end();
    sheet.scaled(sheet.size() * 2).save(QString::fromLocal8Bit(qgetenv("CORVEL_TEST_BUILD_DIR")) + QStringLiteral("/label_icons.png"));
}

TEST(ItemIcon, PixelsGoOutUnpremultipliedInNetworkByteOrder)
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xff));
    image.setPixel(1, 0, qRgba(0xff, 0x00, 0x00, 0x80)); // half-transparent red
    const IconPixmap out = toIconPixmap(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(out.argb, QByteArray::fromHex("ff112233" "80ff0000"));
}

TEST(ItemIcon, TheTrayIconIsDrawnForTheSlotsDevicePixels)
{
    const QIcon icon(new LabelIconEngine(QStringLiteral("CPU 7%")));
    const QPixmap pixmap = icon.pixmap(QSize(24, 24), 2.0);
    EXPECT_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_EQ(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
              renderItemIcon(IconStyle::badge, QStringLiteral("CPU 7%"), 48).convertToFormat(QImage::Format_ARGB32));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
