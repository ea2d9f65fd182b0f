// The panel on Qt's offscreen platform over a Monitor of canned sources. Opening, placement,
// closing (Escape, outside, second click), the Quit button and Ctrl+Q run on real hosts
// (tests/hosts), the layer-shell hand-over of input included.
#include "popover_view.h"
#include "row_layout.h"
#include "support/fake_sources.h"
#include "usage_model.h"
#include "widget_input.h"

#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {

using namespace corvel;
using corvel::testing::FakeApp;

// Shares summing to 299.2 on 8 cores: a total of 37.4.
std::vector<FakeApp> fewApps()
{
    return {{"r", "Renderer", 250, 1572864, 1234},
            {"b", "Browser", 30, 512000, 1},
            {"e", "Editor", 19.1, 1048575, 2},
            {"t", "Terminal", 0.1, 1048576, 1}};
}

std::vector<FakeApp> manyApps(int count)
{
    std::vector<FakeApp> apps;
    for (int i = 0; i < count; ++i)
        apps.push_back({"app" + std::to_string(i), "Application " + std::to_string(i),
                        count - i + 0.25, 1000L * i, 1 + i % 3});
    return apps;
}

class PanelTest : public ::testing::Test
{
protected:
    void show()
    {
        panel.showAnchored(QRect(200, 0, 24, 24));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }
    template <class T>
    T* part(const char* name)
    {
        return panel.findChild<T*>(name);
    }
    QRect inPanel(const QWidget* widget) const
    {
        return {widget->mapTo(&panel, QPoint(0, 0)), widget->size()};
    }
    QRect row(int n) // in the panel's coordinates
    {
        auto* rows = part<QListView>("rows");
        const QRect r = rows->visualRect(panel.model().index(n, 0));
        return {rows->viewport()->mapTo(&panel, r.topLeft()), r.size()};
    }
    QString total() { return part<QLabel>("total")->text(); }

    corvel::testing::FakeMonitor fake{fewApps(), 8};
    PopoverView panel{fake.monitor()};
};

TEST_F(PanelTest, ColumnsLineUpWithTheLabelsAndNothingOverlaps)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    show();
    const QSize size = panel.size();
    auto* list = part<QScrollArea>("listArea");
    EXPECT_EQ(size.width(), 380);
    EXPECT_EQ(list->height(), 360);
    const QRect app = inPanel(part<QLabel>("appHeader"));
    const QRect cpu = inPanel(part<QLabel>("cpuHeader"));
    const QRect memory = inPanel(part<QLabel>("memoryHeader"));
    const QRect area = inPanel(list->viewport());
    const QRect total = inPanel(part<QLabel>("total"));
    const QRect quit = inPanel(part<QPushButton>("quit"));
    EXPECT_LT(std::max({app.bottom(), cpu.bottom(), memory.bottom()}), area.top());
    EXPECT_GT(std::min(total.top(), quit.top()), area.bottom());
    EXPECT_EQ(total.left(), size.width() - 1 - quit.right()); // the footer's insets match
    EXPECT_EQ(std::pair(cpu.width(), memory.width()), std::pair(60, 70));
    for (int n = 0; n < 40; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(std::pair(row(n).left(), row(n).right()), std::pair(area.left(), area.right()));
        EXPECT_EQ(row(n).top(), n > 0 ? row(n - 1).bottom() + 1 : row(0).top());
        // A name far too long for the row, with a count: it gives way to everything else.
        const RowGeometry g = layoutRow(row(n), 5000, 14);
        EXPECT_EQ(g.icon.left(), app.left());
        EXPECT_EQ(g.cpu, QRect(cpu.left(), g.cpu.top(), cpu.width(), g.cpu.height()));
        EXPECT_EQ(g.memory,
                  QRect(memory.left(), g.memory.top(), memory.width(), g.memory.height()));
        const QRect parts[] = {g.icon, g.name, g.count, g.cpu, g.memory};
        for (std::size_t i = 0; i < std::size(parts); ++i) {
            EXPECT_TRUE(row(n).contains(parts[i]) && !parts[i].isEmpty()) << i;
            EXPECT_LT(i > 0 ? parts[i - 1].right() : -1, parts[i].left()) << i;
        }
        EXPECT_EQ(g.icon.center().y(), g.cpu.center().y());
    }
    // The list's padding scrolls with the rows: as much above the first as below the last.
    const int above = row(0).top() - area.top();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    EXPECT_GT(above, 0);
    EXPECT_EQ(area.bottom() - row(39).bottom(), above);

    for (const auto& apps : {manyApps(60), std::vector<FakeApp>{}}) {
        ASSERT_TRUE(fake.publish(apps));
        EXPECT_EQ(panel.model().rowCount(), static_cast<int>(apps.size()));
        EXPECT_EQ(panel.size(), size);
        EXPECT_EQ(list->height(), 360);
    }
}

// The texts, under a locale with a decimal comma and digit grouping for both the C library and
// Qt where this machine has one (scripts/test-locale-setup makes it); a hidden panel waits.
TEST_F(PanelTest, TextsIgnoreTheLocaleAndAHiddenPanelWaits)
{
    ASSERT_TRUE(fake.publish(manyApps(5)));
    EXPECT_EQ(panel.model().rowCount(), 0);
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    else
        std::printf("de_DE.UTF-8 is not available: the texts are checked in the C locale\n");
    show();
    EXPECT_EQ(total(), "Total CPU 2%"); // 16.25 on 8 cores
    ASSERT_TRUE(fake.publish(fewApps()));
    std::setlocale(LC_ALL, previous.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(total(), "Total CPU 37%");
    const char* const labels[][2] = {
        {"appHeader", "App"}, {"cpuHeader", "CPU"}, {"memoryHeader", "Memory"}, {"quit", "Quit"}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(part<QWidget>(name)->property("text").toString(), text);
    const char* const expected[][3] = {{"250.0%", "1.5 GB", "1234"},
                                       {"30.0%", "500 MB", ""},
                                       {"19.1%", "1024 MB", "2"},
                                       {"0.1%", "1.0 GB", ""}};
    ASSERT_EQ(panel.model().rowCount(), 4);
    for (int n = 0; n < 4; ++n) {
        const QModelIndex index = panel.model().index(n, 0);
        EXPECT_EQ(index.data(UsageModel::CpuTextRole).toString(), expected[n][0]);
        EXPECT_EQ(index.data(UsageModel::MemoryTextRole).toString(), expected[n][1]);
        EXPECT_EQ(index.data(UsageModel::CountTextRole).toString(), expected[n][2]);
    }
    panel.hide();
    ASSERT_TRUE(fake.publish(manyApps(7)));
    EXPECT_EQ(panel.model().rowCount(), 4);
}

// Input as a layer-shell surface of our own hands it over: the wheel over the rows scrolls the
// list; a plain Q does not quit (Ctrl+Q does, on the hosts).
TEST_F(PanelTest, WheelScrollsTheListAndPlainQDoesNotQuit)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    panel.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.show();
    QCoreApplication::processEvents(); // lays the rows out, as the event loop would
    WidgetInput input(panel);
    input.moved(QPointF(100, 100));
    input.wheel(QPoint(0, -120));
    EXPECT_GT(part<QScrollArea>("listArea")->verticalScrollBar()->value(), 0);
    QTimer::singleShot(0, [&] { input.key(Qt::Key_Q, Qt::NoModifier, "q", true); });
    QTimer::singleShot(300, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 7);
}

} // namespace
