#include "fake_monitor.h"
#include "popover_view.h"
#include "row_layout.h"
#include "usage_model.h"
#include "widget_input.h"

#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include <QApplication>
#include <QDir>
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

using corvel::PopoverView;
using corvel::UsageModel;
using corvel::test::FakeApp;
using corvel::test::FakeMonitor;

std::vector<FakeApp> fewApps()
{
    return {{"org.example.Browser", "Browser", 30, 1572864, 12},
            {"org.example.Editor", "Editor", 7.4, 512000, 1},
            {"org.example.Render", "Renderer", 0, 10485760, 2}};
}

std::vector<FakeApp> manyApps(int count)
{
    std::vector<FakeApp> apps;
    for (int i = 0; i < count; ++i)
        apps.push_back({"app" + std::to_string(i), "Application " + std::to_string(i),
                        count - i + 0.25, 1000L * i, 1 + i % 3});
    return apps;
}

QRect inPanel(const QWidget* widget, const PopoverView& panel)
{
    return {widget->mapTo(&panel, QPoint(0, 0)), widget->size()};
}

class PanelTest : public testing::Test
{
  protected:
    explicit PanelTest(const std::vector<FakeApp>& apps = fewApps())
        : fake(apps), panel(fake.monitor())
    {}

    void showPanel()
    {
        panel.showAnchored(QRect(200, 0, 24, 24));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }
    template <class T> T* part(const char* name)
    {
        T* found = panel.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Each row's rectangle in the panel's coordinates.
    std::vector<QRect> rowRects()
    {
        auto* rows = part<QListView>("rows");
        std::vector<QRect> rects;
        for (int row = 0; row < panel.model().rowCount(); ++row) {
            const QRect r = rows->visualRect(panel.model().index(row, 0));
            rects.emplace_back(rows->viewport()->mapTo(&panel, r.topLeft()), r.size());
        }
        return rects;
    }

    FakeMonitor fake;
    PopoverView panel;
};

TEST_F(PanelTest, FixedSizesWhateverTheRows)
{
    showPanel();
    auto* list = part<QScrollArea>("listArea");
    const QSize size = panel.size();
    EXPECT_EQ(size.width(), 380);
    EXPECT_EQ(list->height(), 360);
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());

    for (const auto& apps : {manyApps(60), std::vector<FakeApp>{}}) {
        ASSERT_TRUE(fake.publish(apps));
        QCoreApplication::processEvents();
        EXPECT_EQ(panel.model().rowCount(), static_cast<int>(apps.size()));
        EXPECT_EQ(panel.size(), size);
        EXPECT_EQ(list->height(), 360);
        EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    }
}

TEST_F(PanelTest, HeaderAndFooterInsets)
{
    showPanel();
    const QRect app = inPanel(part<QLabel>("appHeader"), panel);
    const QRect cpu = inPanel(part<QLabel>("cpuHeader"), panel);
    const QRect memory = inPanel(part<QLabel>("memoryHeader"), panel);
    const QRect list = inPanel(part<QScrollArea>("listArea"), panel);
    EXPECT_EQ(app.left(), 12);
    EXPECT_EQ(cpu.width(), 60);
    EXPECT_EQ(memory.width(), 70);
    EXPECT_EQ(part<QLabel>("cpuHeader")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(part<QLabel>("memoryHeader")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    // 6 above the labels; 6 below them, then the divider (its height) above the list.
    const int labelsBottom = std::max({app.bottom(), cpu.bottom(), memory.bottom()});
    EXPECT_EQ(std::min({app.top(), cpu.top(), memory.top()}), 6);
    EXPECT_GT(list.top(), labelsBottom + 6);
    EXPECT_LE(list.top(), labelsBottom + 6 + 4);

    const QRect total = inPanel(part<QLabel>("total"), panel);
    const QRect quit = inPanel(part<QPushButton>("quit"), panel);
    EXPECT_EQ(total.left(), 10);
    EXPECT_EQ(quit.right(), 380 - 1 - 10);
    EXPECT_EQ(quit.bottom(), panel.height() - 1 - 10);
    EXPECT_GT(quit.top(), list.bottom() + 10);
}

TEST_F(PanelTest, ColumnLabelsLineUpWithEveryRow)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    showPanel();
    const QRect cpu = inPanel(part<QLabel>("cpuHeader"), panel);
    const QRect memory = inPanel(part<QLabel>("memoryHeader"), panel);
    const QRect app = inPanel(part<QLabel>("appHeader"), panel);
    const QRect area = inPanel(part<QScrollArea>("listArea")->viewport(), panel);
    const std::vector<QRect> rows = rowRects();
    ASSERT_EQ(rows.size(), 40u);
    for (const QRect& row : rows) {
        // Rows span the list's width; their parts are placed by the row layout.
        EXPECT_EQ(row.left(), area.left());
        EXPECT_EQ(row.right(), area.right());
        const corvel::RowGeometry g = corvel::layoutRow(row, 80, 0);
        EXPECT_EQ(g.memory.right(), area.right() - 12);
        EXPECT_EQ(g.memory.right(), memory.right());
        EXPECT_EQ(g.cpu.right(), cpu.right());
        EXPECT_EQ(g.cpu.width(), cpu.width());
        EXPECT_EQ(g.icon.left(), app.left());
    }
}

TEST_F(PanelTest, PaddingScrollsWithTheRows)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    showPanel();
    auto* list = part<QScrollArea>("listArea");
    auto* rows = part<QListView>("rows");
    const auto inArea = [&](int row) {
        const QRect r = rows->visualRect(panel.model().index(row, 0));
        return QRect(rows->viewport()->mapTo(list->viewport(), r.topLeft()), r.size());
    };
    EXPECT_EQ(inArea(0).top(), 4);
    QScrollBar* bar = list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(inArea(39).bottom(), list->viewport()->height() - 1 - 4);
    // Uniform rows, back to back.
    EXPECT_EQ(inArea(1).top(), inArea(0).bottom() + 1);
    EXPECT_EQ(inArea(1).height(), inArea(0).height());
}

TEST_F(PanelTest, WheelOverTheRowsScrollsTheList)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    showPanel();
    auto* rows = part<QListView>("rows");
    QScrollBar* bar = part<QScrollArea>("listArea")->verticalScrollBar();
    ASSERT_EQ(bar->value(), 0);
    const QPointF at(100, 50);
    QWheelEvent wheel(at, rows->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rows->viewport(), &wheel);
    EXPECT_GT(bar->value(), 0);
}

TEST_F(PanelTest, HiddenPanelWaitsAndCatchesUp)
{
    EXPECT_EQ(panel.model().rowCount(), 0);
    ASSERT_TRUE(fake.publish(manyApps(5)));
    EXPECT_EQ(panel.model().rowCount(), 0);

    showPanel();
    EXPECT_EQ(panel.model().rowCount(), 5);
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 16%"); // 5.25 + 4.25 + ... + 1.25

    ASSERT_TRUE(fake.publish(fewApps()));
    EXPECT_EQ(panel.model().rowCount(), 3);
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 37%");

    panel.hide();
    ASSERT_TRUE(fake.publish(manyApps(7)));
    EXPECT_EQ(panel.model().rowCount(), 3);
    EXPECT_EQ(part<QLabel>("total")->text(), "Total CPU 37%");
}

TEST_F(PanelTest, OpensInsideTheScreenAndClosesOnEscapeOrSecondClick)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    const QRect anchor(available.right() - 10, available.bottom() - 5, 20, 20);
    panel.showAnchored(anchor);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_TRUE(available.contains(panel.frameGeometry()) || panel.height() > available.height());
    EXPECT_EQ(panel.frameGeometry().right(), available.right());

    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());

    panel.toggleAnchored(anchor);
    EXPECT_TRUE(panel.isVisible());
    panel.toggleAnchored(anchor);
    EXPECT_FALSE(panel.isVisible());
    panel.toggleAnchored(anchor);
    EXPECT_TRUE(panel.isVisible());

    // A press outside closes it; when that press was on the item, the item's toggle that
    // follows leaves it closed.
    QTest::mousePress(&panel, Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_FALSE(panel.isVisible());
    panel.toggleAnchored(anchor);
    EXPECT_FALSE(panel.isVisible());
    QTest::mouseRelease(&panel, Qt::LeftButton, {}, QPoint(-5, -5));
}

// Runs the event loop until something quits it; 1 when nothing did within a few seconds.
int runUntilQuit(const std::function<void()>& action)
{
    QTimer failsafe;
    failsafe.setSingleShot(true);
    QObject::connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    failsafe.start(5000);
    QTimer::singleShot(0, action);
    return QCoreApplication::exec();
}

TEST_F(PanelTest, ControlQAndTheButtonQuit)
{
    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    showPanel();
    EXPECT_EQ(runUntilQuit([&] { QTest::keyClick(&panel, Qt::Key_Q, Qt::ControlModifier); }), 0);
    EXPECT_EQ(aboutToQuit.count(), 1);

    showPanel();
    auto* quit = part<QPushButton>("quit");
    EXPECT_EQ(quit->text(), "Quit");
    EXPECT_EQ(runUntilQuit([&] { QTest::mouseClick(quit, Qt::LeftButton); }), 0);
    EXPECT_EQ(aboutToQuit.count(), 2);

    // Plain Q does nothing.
    showPanel();
    EXPECT_EQ(runUntilQuit([&] {
                  QTest::keyClick(&panel, Qt::Key_Q);
                  QTimer::singleShot(200, [] { QCoreApplication::exit(7); });
              }),
              7);
}

// Shares summing to 299.2 on 8 cores: a total of 37.4.
std::vector<FakeApp> textApps()
{
    return {{"r", "Renderer", 250, 1572864, 1234},
            {"b", "Browser", 30, 512000, 1},
            {"e", "Editor", 19.1, 1048575, 2},
            {"t", "Terminal", 0.1, 10485760, 1}};
}

// The texts the panel shows, as its labels and the rows' model give them.
void expectTexts(const PopoverView& panel)
{
    EXPECT_EQ(panel.findChild<QLabel*>("total")->text(), "Total CPU 37%");
    EXPECT_EQ(panel.findChild<QLabel*>("appHeader")->text(), "App");
    EXPECT_EQ(panel.findChild<QLabel*>("cpuHeader")->text(), "CPU");
    EXPECT_EQ(panel.findChild<QLabel*>("memoryHeader")->text(), "Memory");
    EXPECT_EQ(panel.findChild<QPushButton*>("quit")->text(), "Quit");
    const UsageModel& model = panel.model();
    ASSERT_EQ(model.rowCount(), 4);
    const auto text = [&](int row, int role) { return model.index(row, 0).data(role).toString(); };
    EXPECT_EQ(text(0, UsageModel::CpuTextRole), "250.0%");
    EXPECT_EQ(text(0, UsageModel::MemoryTextRole), "1.5 GB");
    EXPECT_EQ(text(0, UsageModel::CountTextRole), "1234");
    EXPECT_EQ(text(1, UsageModel::CpuTextRole), "30.0%");
    EXPECT_EQ(text(1, UsageModel::MemoryTextRole), "500 MB");
    EXPECT_EQ(text(1, UsageModel::CountTextRole), "");
    EXPECT_EQ(text(2, UsageModel::CpuTextRole), "19.1%");
    EXPECT_EQ(text(2, UsageModel::MemoryTextRole), "1024 MB");
    EXPECT_EQ(text(2, UsageModel::CountTextRole), "2");
    EXPECT_EQ(text(3, UsageModel::CpuTextRole), "0.1%");
    EXPECT_EQ(text(3, UsageModel::MemoryTextRole), "10.0 GB");
}

TEST(PanelTexts, SameUnderADecimalCommaLocale)
{
    for (const bool german : {false, true}) {
        SCOPED_TRACE(german ? "de_DE" : "default");
        const std::string previous = std::setlocale(LC_ALL, nullptr);
        if (german) {
            if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
                GTEST_SKIP() << "de_DE.UTF-8 is not available (scripts/test-locale-setup makes it)";
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
            // The locale is in force for both the C library and Qt.
            char probe[16];
            std::snprintf(probe, sizeof probe, "%.1f", 1.5);
            EXPECT_STREQ(probe, "1,5");
            EXPECT_EQ(QLocale().toString(1234), "1.234");
        }
        {
            FakeMonitor fake(textApps(), 8);
            PopoverView panel(fake.monitor());
            panel.showAnchored(QRect(0, 0, 1, 1));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
            expectTexts(panel);
        }
        std::setlocale(LC_ALL, previous.c_str());
        QLocale::setDefault(QLocale::c());
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
    const QRect quit = inPanel(part<QPushButton>("quit"), panel);
    EXPECT_EQ(runUntilQuit([&] {
                  input.moved(quit.center());
                  input.button(Qt::LeftButton, true);
                  input.button(Qt::LeftButton, false);
              }),
              0);
    EXPECT_EQ(runUntilQuit([&] { input.key(Qt::Key_Q, Qt::ControlModifier, {}, true); }), 0);
}
