// Renders the panel with sample rows to a picture under the build folder, for people to look
// at, and checks in it what pixels can tell.
#include "fake_monitor.h"
#include "popover_view.h"
#include "row_layout.h"
#include "usage_model.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

using corvel::test::FakeApp;

QImage appIcon(QSize size, QColor color, QChar letter)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(QPointF(0, 0), size), size.height() * 0.2, size.height() * 0.2);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(size.height() * 6 / 10);
    font.setBold(true);
    p.setFont(font);
    p.drawText(image.rect(), Qt::AlignCenter, QString(letter));
    return image;
}

TEST(PanelPicture, SampleRows)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString theme = dir.filePath("icons/picturetest");
    ASSERT_TRUE(QDir().mkpath(theme + "/48x48/apps"));
    QFile index(theme + "/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=picturetest\nDirectories=48x48/apps\n\n"
                "[48x48/apps]\nSize=48\nType=Fixed\n");
    index.close();
    ASSERT_TRUE(
        appIcon({48, 48}, QColor(0x2a, 0x6f, 0xdb), 'W').save(theme + "/48x48/apps/web.png"));
    QIcon::setThemeSearchPaths({dir.filePath("icons")});
    QIcon::setThemeName("picturetest");
    const QString editor = dir.filePath("editor.png");
    const QString wide = dir.filePath("wide.png");
    ASSERT_TRUE(appIcon({64, 64}, QColor(0x3c, 0x9a, 0x4a), 'E').save(editor));
    QImage orange(48, 24, QImage::Format_ARGB32);
    orange.fill(QColor(0xf0, 0x80, 0x20));
    ASSERT_TRUE(orange.save(wide));

    std::vector<FakeApp> apps = {
        {"org.example.Web", "Web Browser", 37.2, 1572864, 12, "web"},
        {"org.example.Render", "Renderer With A Name Far Too Long For Its Row", 250, 10485760, 3,
         wide.toStdString()},
        {"org.example.Editor", "Text Editor", 12.4, 759808, 1, editor.toStdString()},
        {"org.example.Term", "Terminal", 0.5, 61440, 2, ""},
        {"org.example.Missing", "Icon Missing", 0.3, 20480, 1,
         dir.filePath("gone.png").toStdString()},
    };
    for (int i = 0; i < 20; ++i)
        apps.push_back({"org.example.Helper" + std::to_string(i), "Helper " + std::to_string(i),
                        0.2 - i * 0.01, 4096 * (20 - i), 1 + i % 4, ""});
    corvel::test::FakeMonitor fake(apps, 4);
    corvel::PopoverView panel(fake.monitor());
    panel.showAnchored(QRect(100, 0, 24, 24));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));

    const QImage picture = panel.grab().toImage();
    const QByteArray buildDir = qgetenv("CORVEL_TEST_BUILD_DIR");
    const QString folder =
        (buildDir.isEmpty() ? QDir::currentPath() : QString(buildDir)) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + "/panel.png";
    ASSERT_TRUE(picture.save(file));
    std::printf("panel picture: %s\n", qPrintable(file));
    ASSERT_EQ(picture.size(), panel.size() * panel.devicePixelRatio());

    // Row 0 (Renderer) has the wide image: stretched, it fills its whole icon cell.
    auto* rows = panel.findChild<QListView*>("rows");
    const auto cellOf = [&](int row) {
        const QRect r = rows->visualRect(panel.model().index(row, 0));
        const QRect inPanel(rows->viewport()->mapTo(&panel, r.topLeft()), r.size());
        return corvel::layoutRow(inPanel, 0, 0).icon;
    };
    ASSERT_EQ(panel.model().index(0, 0).data().toString().left(8).toStdString(), "Renderer");
    ASSERT_EQ(panel.model().index(3, 0).data().toString().toStdString(), "Terminal");
    const QRect wideCell = cellOf(0);
    for (const QPoint corner :
         {wideCell.topLeft(), wideCell.bottomRight(), wideCell.topRight(), wideCell.bottomLeft()})
        EXPECT_EQ(picture.pixelColor(corner), QColor(0xf0, 0x80, 0x20));
    // Row 3 (Terminal) has no icon: a dimmed gear, leaving the cell's edges to the background.
    const QRect gearCell = cellOf(3);
    const QColor background = picture.pixelColor(gearCell.topLeft());
    int painted = 0;
    for (int y = gearCell.top(); y <= gearCell.bottom(); ++y)
        for (int x = gearCell.left(); x <= gearCell.right(); ++x)
            painted += picture.pixelColor(x, y) != background;
    EXPECT_GT(painted, 60);
}

} // namespace
