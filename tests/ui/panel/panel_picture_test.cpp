// Renders the panel with sample rows to a picture under the build folder, for people to look
// at, and checks in it what pixels can tell about the icons and the gear in their place.
#include "panel_style.h"
#include "popover_view.h"
#include "row_layout.h"
#include "support/fake_sources.h"
#include "usage_model.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

using corvel::testing::FakeApp;

QImage appIcon(QSize size, QColor color, QChar letter)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    QPainter p(&image);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(size.height() / 2);
    p.setFont(font);
    p.drawText(image.rect(), Qt::AlignCenter, QString(letter));
    return image;
}

TEST(PanelPicture, IconsStretchedMissingOnesAGearAndFilesReadOnce)
{
    QTemporaryDir dir;
    const QString theme = dir.filePath("icons/picturetest");
    ASSERT_TRUE(QDir().mkpath(theme + "/48x48/apps"));
    QFile index(theme + "/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=picturetest\nDirectories=48x48/apps\n\n"
                "[48x48/apps]\nSize=48\nType=Fixed\n");
    index.close();
    const QColor blue(0x2a, 0x6f, 0xdb), green(0x3c, 0x9a, 0x4a), orange(0xf0, 0x80, 0x20);
    ASSERT_TRUE(appIcon({48, 48}, blue, 'W').save(theme + "/48x48/apps/web.png"));
    QIcon::setThemeSearchPaths({dir.filePath("icons")});
    QIcon::setThemeName("picturetest");
    const QString editor = dir.filePath("editor.png");
    const QString wide = dir.filePath("wide.png");
    ASSERT_TRUE(appIcon({64, 64}, green, 'E').save(editor));
    ASSERT_TRUE(appIcon({48, 24}, orange, ' ').save(wide));

    std::vector<FakeApp> apps = {
        {"org.example.Render", "Renderer With A Name Far Too Long For Its Row", 250, 10485760, 3,
         wide.toStdString()},
        {"org.example.Web", "Web Browser", 37.2, 1572864, 12, "web"},
        {"org.example.Editor", "Text Editor", 12.4, 759808, 1, editor.toStdString()},
        {"org.example.Term", "Terminal", 0.5, 61440, 2, ""},
        {"org.example.Missing", "Icon Missing", 0.3, 20480, 1,
         dir.filePath("gone.png").toStdString()},
        {"org.example.Unknown", "Unknown Theme Icon", 0.25, 20480, 1, "no-such-icon"},
    };
    for (int i = 0; i < 20; ++i)
        apps.push_back({"org.example.Helper" + std::to_string(i), "Helper " + std::to_string(i),
                        0.2 - i * 0.01, 4096 * (20 - i), 1 + i % 4, ""});
    corvel::testing::FakeMonitor fake(apps, 4);
    corvel::PopoverView panel(fake.monitor());
    panel.showAnchored(QRect(100, 0, 24, 24));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));

    const QImage picture = panel.grab().toImage();
    const QByteArray buildDir = qgetenv("CORVEL_TEST_BUILD_DIR");
    const QString folder =
        (buildDir.isEmpty() ? QDir::currentPath() : QString(buildDir)) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(folder) && picture.save(folder + "/panel.png"));
    std::printf("panel picture: %s/panel.png\n", qPrintable(folder));

    auto* rows = panel.findChild<QListView*>("rows");
    const auto cellOf = [&](int row) {
        const QRect r = rows->visualRect(panel.model().index(row, 0));
        return corvel::layoutRow(QRect(rows->viewport()->mapTo(&panel, r.topLeft()), r.size()), 0,
                                 0)
            .icon;
    };
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <
               30;
    };
    // Images fill their whole cell, even one of another shape; theme names and paths alike.
    for (const auto& [row, colour] : {std::pair{0, orange}, {1, blue}, {2, green}}) {
        const QRect cell = cellOf(row);
        for (const QPoint at :
             {cell.topLeft(), cell.bottomRight(), cell.topRight(), cell.bottomLeft()})
            EXPECT_TRUE(near(picture.pixelColor(at), colour)) << row;
    }
    // No icon, a missing file, an unknown name: a gear inside the cell, its edges left alone.
    for (const int row : {3, 4, 5}) {
        const QRect cell = cellOf(row);
        const QColor background = picture.pixelColor(cell.topLeft());
        int painted = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                if (picture.pixelColor(x, y) != background) {
                    ++painted;
                    EXPECT_TRUE(cell.adjusted(1, 1, -1, -1).contains(x, y)) << row;
                }
        EXPECT_GT(painted, 60) << row;
    }
    // Once read, an image is not read again.
    ASSERT_TRUE(QFile::remove(wide));
    ASSERT_TRUE(fake.publish(apps));
    EXPECT_TRUE(near(panel.grab().toImage().pixelColor(cellOf(0).center()), orange));
}

TEST(PanelStyle, EqualWidthDigitsAndSmallerCaptions)
{
    QFont large = QApplication::font();
    large.setPointSizeF(31);
    for (const QFont& font : {QApplication::font(), large})
        EXPECT_TRUE(corvel::hasTabularDigits(corvel::tabularFont(font)));
    EXPECT_LT(QFontMetrics(corvel::caption2Font(large)).height(),
              QFontMetrics(corvel::captionFont(large)).height());
    EXPECT_LT(QFontMetrics(corvel::captionFont(large)).height(), QFontMetrics(large).height());
}

} // namespace
