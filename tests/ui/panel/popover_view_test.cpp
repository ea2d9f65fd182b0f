// The panel on Qt's offscreen platform over a Monitor of canned sources.
#include "popover_view.h"
#include "row_layout.h"
#include "support/fake_sources.h"
#include "usage_model.h"
#include "widget_input.h"

#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

namespace {

using namespace corvel;
using corvel::testing::FakeApp;
using corvel::testing::FakeMonitor;

// Shares summing to 299.2 on 8 cores: a total of 37.4.
std::vector<FakeApp> fewApps()
{
    return {{"r", "Renderer", 250, 1572864, 1234},
            {"b", "Browser", 30, 512000, 1},
            {"e", "Editor", 19.1, 1048575, 2},
            {"t", "Terminal", 0.1, 10485760, 1}};
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

    FakeMonitor fake{fewApps(), 8};
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
    EXPECT_TRUE(panel.rect().contains(quit));
    for (int n = 0; n < 40; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(row(n).left(), area.left());
        EXPECT_EQ(row(n).right(), area.right());
        EXPECT_EQ(row(n).top(), n > 0 ? row(n - 1).bottom() + 1 : row(0).top());
        // A name far too long for the row, with a count: it gives way to everything else.
        const RowGeometry g = layoutRow(row(n), 5000, 14);
        EXPECT_EQ(g.icon.left(), app.left());
        EXPECT_EQ(g.cpu.left(), cpu.left());
        EXPECT_EQ(g.cpu.right(), cpu.right());
        EXPECT_EQ(g.memory.left(), memory.left());
        EXPECT_EQ(g.memory.right(), memory.right());
        const QRect parts[] = {g.icon, g.name, g.count, g.cpu, g.memory};
        for (std::size_t i = 0; i < std::size(parts); ++i) {
            EXPECT_TRUE(row(n).contains(parts[i])) << i;
            EXPECT_GT(parts[i].width(), 0) << i;
            EXPECT_LT(i > 0 ? parts[i - 1].right() : -1, parts[i].left()) << i;
        }
        EXPECT_EQ(g.icon.center().y(), g.cpu.center().y());
    }
    // The list's padding scrolls with the rows: as much above the first as below the last.
    const QRect viewport = inPanel(list->viewport());
    const int above = row(0).top() - viewport.top();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    EXPECT_GT(above, 0);
    EXPECT_EQ(viewport.bottom() - row(39).bottom(), above);

    for (const auto& apps : {manyApps(60), std::vector<FakeApp>{}}) {
        ASSERT_TRUE(fake.publish(apps));
        EXPECT_EQ(panel.model().rowCount(), static_cast<int>(apps.size()));
        EXPECT_EQ(panel.size(), size);
        EXPECT_EQ(list->height(), 360);
    }
}

TEST_F(PanelTest, HiddenPanelWaitsAndCatchesUp)
{
    EXPECT_EQ(panel.model().rowCount(), 0);
    ASSERT_TRUE(fake.publish(manyApps(5)));
    EXPECT_EQ(panel.model().rowCount(), 0);
    show();
    EXPECT_EQ(panel.model().rowCount(), 5);
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 2%"); // 16.25 on 8 cores
    ASSERT_TRUE(fake.publish(fewApps()));
    EXPECT_EQ(panel.model().rowCount(), 4);
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 37%");
    panel.hide();
    ASSERT_TRUE(fake.publish(manyApps(7)));
    EXPECT_EQ(panel.model().rowCount(), 4);
}

TEST_F(PanelTest, WheelOverTheRowsScrollsTheList)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    show();
    auto* rows = part<QListView>("rows");
    QScrollBar* bar = part<QScrollArea>("listArea")->verticalScrollBar();
    ASSERT_EQ(bar->value(), 0);
    const QPointF at(100, 50);
    QWheelEvent wheel(at, rows->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rows->viewport(), &wheel);
    EXPECT_GT(bar->value(), 0);
}

TEST_F(PanelTest, OpensInsideTheScreenAndClosesOnEscapeOrSecondClick)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(available.right() - 10, available.bottom() - 5, 20, 20);
    panel.showAnchored(anchor);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_TRUE(available.contains(panel.frameGeometry()) || panel.height() > available.height());
    EXPECT_EQ(panel.frameGeometry().right(), available.right());
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    for (const bool visible : {true, false, true}) {
        panel.toggleAnchored(anchor);
        EXPECT_EQ(panel.isVisible(), visible);
    }
    // A press outside closes it; when that press was on the item, the item's toggle that
    // follows leaves it closed.
    QTest::mousePress(&panel, Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_FALSE(panel.isVisible());
    panel.toggleAnchored(anchor);
    EXPECT_FALSE(panel.isVisible());
    QTest::mouseRelease(&panel, Qt::LeftButton, {}, QPoint(-5, -5));
}

// Runs the event loop after `action`; the exit code, 1 when nothing quit within five seconds.
int exitCodeAfter(const std::function<void()>& action)
{
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, action);
    return QCoreApplication::exec();
}

TEST_F(PanelTest, ControlQAndTheButtonQuitPlainQDoesNot)
{
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    show();
    EXPECT_EQ(exitCodeAfter([&] { QTest::keyClick(&panel, Qt::Key_Q, Qt::ControlModifier); }), 0);
    show();
    EXPECT_EQ(part<QPushButton>("quit")->text(), "Quit");
    EXPECT_EQ(exitCodeAfter([&] { QTest::mouseClick(part<QPushButton>("quit"), Qt::LeftButton); }),
              0);
    EXPECT_EQ(aboutToQuit.count(), 2);
    show();
    EXPECT_EQ(exitCodeAfter([&] {
                  QTest::keyClick(&panel, Qt::Key_Q);
                  QTimer::singleShot(200, [] { QCoreApplication::exit(7); });
              }),
              7);
}

// The texts the panel shows, under a locale with a decimal comma and digit grouping for both
// the C library and Qt where this machine has one (scripts/test-locale-setup makes it).
TEST_F(PanelTest, TextsIgnoreADecimalCommaLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    else
        std::printf("de_DE.UTF-8 is not available: the texts are checked in the C locale\n");
    ASSERT_TRUE(fake.publish(fewApps()));
    show();
    std::setlocale(LC_ALL, previous.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 37%");
    const char* const labels[][2] = {
        {"appHeader", "App"}, {"cpuHeader", "CPU"}, {"memoryHeader", "Memory"}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(part<QLabel>(name)->text(), text);
    const char* const expected[][3] = {{"250.0%", "1.5 GB", "1234"},
                                       {"30.0%", "500 MB", ""},
                                       {"19.1%", "1024 MB", "2"},
                                       {"0.1%", "10.0 GB", ""}};
    ASSERT_EQ(panel.model().rowCount(), 4);
    for (int n = 0; n < 4; ++n) {
        const QModelIndex index = panel.model().index(n, 0);
        EXPECT_EQ(index.data(UsageModel::CpuTextRole).toString(), expected[n][0]);
        EXPECT_EQ(index.data(UsageModel::MemoryTextRole).toString(), expected[n][1]);
        EXPECT_EQ(index.data(UsageModel::CountTextRole).toString(), expected[n][2]);
    }
}

} // namespace

// On layer-shell compositors the panel stays off screen and input from our own surface is
// handed to it: the wheel scrolls the list, Escape closes, the button and Ctrl+Q quit.
TEST_F(PanelTest, InputHandedOverFromASurfaceOfOurOwn)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    panel.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.show();
    QCoreApplication::processEvents(); // lays the rows out, as the event loop would
    corvel::WidgetInput input(panel);
    QScrollBar* bar = part<QScrollArea>("listArea")->verticalScrollBar();
    input.moved(QPointF(100, 100));
    input.wheel(QPoint(0, -120));
    EXPECT_GT(bar->value(), 0);

    input.key(Qt::Key_Escape, Qt::NoModifier, {}, true);
    EXPECT_FALSE(panel.isVisible());

    panel.show();
    const QRect quit = inPanel(part<QPushButton>("quit"));
    EXPECT_EQ(exitCodeAfter([&] {
                  input.moved(quit.center());
                  input.button(Qt::LeftButton, true);
                  input.button(Qt::LeftButton, false);
              }),
              0);
    EXPECT_EQ(exitCodeAfter([&] { input.key(Qt::Key_Q, Qt::ControlModifier, {}, true); }), 0);
}
