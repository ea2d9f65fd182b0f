// The row's geometry, the derived text styles and the icon cache.
#include "icon_cache.h"
#include "panel_style.h"
#include "row_layout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

namespace {

using namespace corvel;

const QRect row(0, 100, 364, 24);

TEST(RowLayout, IconNameAndCountFromTheLeadingEdge)
{
    const RowGeometry g = layoutRow(row, 90, 0);
    EXPECT_EQ(g.icon, QRect(12, 102, 20, 20));
    EXPECT_EQ(g.name.left(), g.icon.right() + 1 + 8);
    EXPECT_EQ(g.name.width(), 90);
    EXPECT_TRUE(g.count.isEmpty()); // no count, and no gap for one

    const RowGeometry counted = layoutRow(row, 90, 14);
    EXPECT_EQ(counted.name, g.name);
    EXPECT_EQ(counted.count.left(), counted.name.right() + 1 + 8);
    EXPECT_EQ(counted.count.width(), 14);
}

TEST(RowLayout, NumericColumnsAtTheTrailingEdge)
{
    for (const int width : {364, 380, 200}) {
        const QRect r(5, 0, width, 30);
        const RowGeometry g = layoutRow(r, 50, 10);
        EXPECT_EQ(g.memory.width(), 70);
        EXPECT_EQ(g.memory.right(), r.right() - 12);
        EXPECT_EQ(g.cpu.width(), 60);
        EXPECT_EQ(g.cpu.right() + 1 + 8, g.memory.left());
        // Two points of padding above and below, text centred in what is left.
        EXPECT_EQ(g.cpu.top(), r.top() + 2);
        EXPECT_EQ(g.cpu.bottom(), r.bottom() - 2);
        EXPECT_EQ(g.icon.center().y(), g.cpu.center().y());
    }
}

TEST(RowLayout, LongNameGivesWayToCountAndColumns)
{
    const RowGeometry g = layoutRow(row, 5000, 0);
    EXPECT_EQ(g.name.right() + 1 + 8 + 8, g.cpu.left()); // gap, empty spacer, gap
    const RowGeometry counted = layoutRow(row, 5000, 14);
    EXPECT_EQ(counted.count.width(), 14);
    EXPECT_EQ(counted.count.right() + 1 + 16, counted.cpu.left());
    EXPECT_LT(counted.name.width(), g.name.width());
    // A row too narrow for any name still keeps its columns.
    const RowGeometry narrow = layoutRow(QRect(0, 0, 150, 24), 80, 10);
    EXPECT_EQ(narrow.name.width(), 0);
    EXPECT_EQ(narrow.memory.width(), 70);
}

TEST(RowLayout, HeightHoldsTheIconOrTheTallestText)
{
    EXPECT_EQ(rowHeight(12), 24);
    EXPECT_EQ(rowHeight(20), 24);
    EXPECT_EQ(rowHeight(27), 31);
}

TEST(PanelStyle, NumericFontHasEqualWidthDigits)
{
    EXPECT_TRUE(hasTabularDigits(tabularFont(QApplication::font())));
    QFont large = QApplication::font();
    large.setPointSizeF(31);
    EXPECT_TRUE(hasTabularDigits(tabularFont(large)));
    EXPECT_LT(QFontMetrics(caption2Font(large)).height(),
              QFontMetrics(captionFont(large)).height());
    EXPECT_LT(QFontMetrics(captionFont(large)).height(), QFontMetrics(large).height());
}

QColor paintedAt(IconCache& cache, const QString& key, QPoint at)
{
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    cache.paint(painter, QRect(10, 10, 20, 20), key, Qt::black);
    painter.end();
    return image.pixelColor(at);
}

class IconCacheTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // A one-icon theme, so theme lookups never reach the icon themes of the machine.
        const QString theme = dir.filePath("icons/paneltest");
        ASSERT_TRUE(QDir().mkpath(theme + "/32x32/apps"));
        QFile index(theme + "/index.theme");
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=paneltest\nDirectories=32x32/apps\n\n"
                    "[32x32/apps]\nSize=32\nType=Fixed\n");
        index.close();
        ASSERT_TRUE(solid(QSize(32, 32), Qt::red).save(theme + "/32x32/apps/paneltest-app.png"));
        ASSERT_TRUE(solid(QSize(40, 16), Qt::blue).save(dir.filePath("wide.png")));
        QIcon::setThemeSearchPaths({dir.filePath("icons")});
        QIcon::setThemeName("paneltest");
    }
    static QImage solid(QSize size, QColor color)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(color);
        return image;
    }
    QTemporaryDir dir;
};

TEST_F(IconCacheTest, ThemeNamesAndPathsResolveOnce)
{
    IconCache cache;
    EXPECT_FALSE(cache.icon("paneltest-app").isNull());
    EXPECT_FALSE(cache.icon(dir.filePath("wide.png")).isNull());
    EXPECT_TRUE(cache.icon(dir.filePath("missing.png")).isNull());
    EXPECT_TRUE(cache.icon("no-such-icon-anywhere").isNull());
    EXPECT_TRUE(cache.icon("").isNull());

    // A wide image is stretched over the whole cell: its corners too.
    const QString wide = dir.filePath("wide.png");
    EXPECT_EQ(paintedAt(cache, wide, {10, 10}), QColor(Qt::blue));
    EXPECT_EQ(paintedAt(cache, wide, {29, 29}), QColor(Qt::blue));
    EXPECT_EQ(paintedAt(cache, wide, {9, 9}), QColor(Qt::white));
    EXPECT_EQ(paintedAt(cache, "paneltest-app", {20, 20}), QColor(Qt::red));

    // Once resolved, the file is not read again.
    const qsizetype known = cache.size();
    ASSERT_TRUE(QFile::remove(wide));
    EXPECT_EQ(paintedAt(cache, wide, {20, 20}), QColor(Qt::blue));
    EXPECT_EQ(cache.size(), known);
}

TEST_F(IconCacheTest, GearStandsInForMissingIcons)
{
    IconCache cache;
    for (const QString& key : {QString(), dir.filePath("missing.png"), QString("no-such-icon")}) {
        QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        cache.paint(painter, QRect(10, 10, 20, 20), key, QColor(0, 128, 0));
        painter.end();
        int painted = 0;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x) {
                if (image.pixelColor(x, y) == QColor(Qt::white))
                    continue;
                ++painted;
                // Natural size (16 x 16) centred in the cell, in the colour given.
                EXPECT_TRUE(QRect(12, 12, 16, 16).contains(x, y)) << x << "," << y;
                EXPECT_GT(image.pixelColor(x, y).green(), image.pixelColor(x, y).red());
            }
        }
        EXPECT_GT(painted, 60);
    }
}

} // namespace
