// The label drawn as the tray's picture: its two lines, its pixels, its byte order on D-Bus.

#include "label_icon.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>

using namespace corvel;

namespace {

TEST(LabelIcon, SplitsTheLabelIntoTheWordAndTheFigure)
{
    const struct
    {
        const char* label;
        const char* top;
        const char* bottom;
    } cases[] = {{"CPU 0%", "CPU", "0%"},
                 {"CPU 12%", "CPU", "12%"},
                 {"CPU 100%", "CPU", "100%"},
                 {"CPU", "CPU", ""},
                 {"", "", ""}};
    for (const auto& c : cases) {
        const LabelLines lines = splitLabel(QString::fromLatin1(c.label));
        EXPECT_EQ(lines.top, QLatin1String(c.top)) << c.label;
        EXPECT_EQ(lines.bottom, QLatin1String(c.bottom)) << c.label;
    }
}

TEST(LabelIcon, PixelsGoOutAsUnpremultipliedArgbInNetworkByteOrder)
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0xff));
    image.setPixel(1, 0, qRgba(0xff, 0x00, 0x00, 0x80)); // half-transparent red
    const IconPixmap out = toIconPixmap(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    ASSERT_EQ(out.width, 2);
    ASSERT_EQ(out.height, 1);
    ASSERT_EQ(out.argb.size(), 8);
    const auto byte = [&](int i) { return static_cast<unsigned char>(out.argb[i]); };
    EXPECT_EQ(byte(0), 0xff);
    EXPECT_EQ(byte(1), 0x11);
    EXPECT_EQ(byte(2), 0x22);
    EXPECT_EQ(byte(3), 0x33);
    EXPECT_EQ(byte(4), 0x80);
    EXPECT_EQ(byte(5), 0xff); // red back at full strength, not premultiplied to half
    EXPECT_EQ(byte(6), 0x00);
    EXPECT_EQ(byte(7), 0x00);
}

// Rows of the image that hold text: pixels much lighter than the badge.
std::vector<bool> inkRows(const QImage& image)
{
    std::vector<bool> rows(static_cast<std::size_t>(image.height()), false);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 200 && qGray(p) > 160)
                rows[static_cast<std::size_t>(y)] = true;
        }
    }
    return rows;
}

TEST(LabelIcon, DrawsTwoLinesOfTextInsideTheSquareAtEveryPixelRatio)
{
    for (const qreal ratio : {1.0, 2.0}) {
        const QImage image = renderLabelIcon(QStringLiteral("CPU 100%"), 22, ratio);
        ASSERT_EQ(image.width(), qRound(22 * ratio));
        ASSERT_EQ(image.height(), qRound(22 * ratio));
        EXPECT_EQ(image.devicePixelRatio(), ratio);

        // Two separate bands of text, "CPU" above and "100%" below.
        const std::vector<bool> rows = inkRows(image.convertToFormat(QImage::Format_ARGB32));
        int bands = 0;
        for (std::size_t y = 0; y < rows.size(); ++y)
            bands += rows[y] && (y == 0 || !rows[y - 1]);
        EXPECT_EQ(bands, 2) << "ratio " << ratio;

        // Rounded corners stay clear.
        EXPECT_LT(qAlpha(image.pixel(0, 0)), 32);
        EXPECT_LT(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 32);
    }
}

TEST(LabelIcon, TheIconEngineDrawsAtTheSizeItIsAskedFor)
{
    const QIcon icon(new LabelIconEngine(QStringLiteral("CPU 7%")));
    for (const int side : {16, 22, 24, 32}) {
        const QPixmap pixmap = icon.pixmap(QSize(side, side));
        EXPECT_EQ(pixmap.width(), side);
        EXPECT_EQ(pixmap.height(), side);
    }
    // The tray paints through QIcon::paint; a 2x device gets twice the pixels, drawn, not
    // scaled up.
    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        icon.paint(&painter, QRect(0, 0, 24, 24));
    }
    const QImage direct = renderLabelIcon(QStringLiteral("CPU 7%"), 24, 2.0);
    EXPECT_EQ(canvas.convertToFormat(QImage::Format_ARGB32),
              direct.convertToFormat(QImage::Format_ARGB32));
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
