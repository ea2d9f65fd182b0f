// The panel on Qt's offscreen platform over canned sources; opening and closing: tests/hosts.
#include "action_overlay.h"
#include "panel_style.h"
#include "popover_view.h"
#include "row_layout.h"
#include "support/fake_sources.h"
#include "usage_model.h"
#include "widget_input.h"

#include <clocale>
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

using namespace corvel;
using corvel::testing::FakeApp;

std::vector<FakeApp> manyApps(int count)
{
    std::vector<FakeApp> apps;
    for (int i = 0; i < count; ++i)
        apps.push_back({"app" + std::to_string(i), "Application " + std::to_string(i),
                        count - i + 0.25, 1000L * i, 1 + i % 3});
    return apps;
}

// Each row as "name|count or pid|cpu|memory", or by other roles; "; " between rows.
std::string shownRows(const UsageModel& m, std::initializer_list<int> roles = {
                                               Qt::DisplayRole, UsageModel::CountTextRole,
                                               UsageModel::CpuTextRole, UsageModel::MemoryTextRole})
{
    QStringList rows;
    for (int n = 0; n < m.rowCount(); ++n) {
        QStringList parts;
        for (const int role : roles)
            parts << m.index(n, 0).data(role).toString();
        rows << parts.join('|');
    }
    return rows.join("; ").toStdString();
}
std::string ids(const UsageModel& m)
{
    return shownRows(m, {UsageModel::IdRole});
}

class PanelTest : public ::testing::Test
{
protected:
    PanelTest()
    {
        // An icon theme of its own, where the name "web" is found.
        QFile index(dir.filePath("t/index.theme"));
        EXPECT_TRUE(QDir(dir.path()).mkpath("t/48") && index.open(QIODevice::WriteOnly) &&
                    index.write("[Icon Theme]\nDirectories=48\n[48]\nSize=48\n") > 0);
        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName("t");
        for (const auto& [file, size, colour] : icons) {
            QImage image(size, QImage::Format_RGB32);
            image.fill(colour);
            EXPECT_TRUE(image.save(dir.filePath(file)));
        }
    }
    // Shares summing to 299.2 on 8 cores (a total of 37.4); icons: wide, named, square, none.
    std::vector<FakeApp> fewApps() const
    {
        return {{"r", "Renderer With A Name Far Too Long For Its Row", 250, 1572864, 1234,
                 dir.filePath("wide.png").toStdString()},
                {"b", "Browser", 30, 512000, 1, "web"},
                {"e", "Editor", 19.1, 1048575, 2, dir.filePath("editor.png").toStdString()},
                {"t", "Terminal", 0.1, 1048576, 1}};
    }
    void show(bool ownSurface = false) // as on a layer-shell surface of ours
    {
        if (ownSurface) {
            panel.setWindowFlags(Qt::Window | Qt::FramelessWindowHint),
                panel.setAttribute(Qt::WA_DontShowOnScreen);
            panel.show();
            QCoreApplication::processEvents(); // lays the rows out, as the event loop would
        } else {
            panel.showAnchored(QRect(200, 0, 24, 24));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
        }
        while (fake.monitor().cycleInFlight()) // the processes, published when the panel opens
            ASSERT_TRUE(corvel::testing::published(fake.monitor()));
    }
    QWidget* part(const char* name) { return panel.findChild<QWidget*>(name); }
    QRect inPanel(const QWidget* w) { return {w->mapTo(&panel, QPoint()), w->size()}; }
    QRect row(int n) // in the panel's coordinates
    {
        auto* rows = panel.findChild<QListView*>("rows");
        return rows->visualRect(panel.model().index(n, 0))
            .translated(rows->viewport()->mapTo(&panel, QPoint()));
    }

    static constexpr std::tuple<const char*, QSize, QRgb> icons[] = {
        {"wide.png", {48, 24}, 0xf08020},
        {"t/48/web.png", {48, 48}, 0x2a6fdb},
        {"editor.png", {64, 64}, 0x3c9a4a}};
    QTemporaryDir dir;
    corvel::testing::FakeMonitor fake{fewApps(), 8};
    PopoverView panel{fake.monitor()};
};

TEST_F(PanelTest, ColumnsLineUpWithTheLabelsNothingOverlapsAndIconsFillTheirCell)
{
    ASSERT_TRUE(fake.publish(manyApps(40)));
    show();
    const QSize size = panel.size();
    auto* list = panel.findChild<QScrollArea*>("listArea");
    EXPECT_EQ(std::tuple(size.width(), list->height(), list->verticalScrollBar()->isVisible()),
              std::tuple(380, 360, true));
    const QRect app = inPanel(part("appHeader")), cpu = inPanel(part("cpuHeader"));
    const QRect memory = inPanel(part("memoryHeader")), area = inPanel(list->viewport());
    const QRect total = inPanel(part("total")), quit = inPanel(part("quit"));
    EXPECT_LT(std::max({app.bottom(), cpu.bottom(), memory.bottom()}), area.top());
    EXPECT_GT(std::min(total.top(), quit.top()), area.bottom());
    EXPECT_EQ(std::pair(cpu.width(), memory.width()), std::pair(60, 70));
    // A name far too long for the row, with a count: it gives way to everything else.
    const QRect r = row(0);
    const RowGeometry g = layoutRow(r, 5000, 14);
    EXPECT_EQ(std::tuple(r.left(), r.right(), g.icon.left(), g.cpu.left(), g.memory.left()),
              std::tuple(area.left(), area.right(), app.left(), cpu.left(), memory.left()));
    const QRect parts[] = {g.icon, g.name, g.count, g.cpu, g.memory};
    for (std::size_t i = 0; i < std::size(parts); ++i)
        EXPECT_TRUE(r.contains(parts[i]) && !parts[i].isEmpty() &&
                    (i == 0 || parts[i - 1].right() < parts[i].left()))
            << i;
    EXPECT_EQ(g.icon.center().y(), g.cpu.center().y());
    // The list's padding scrolls with the rows: as much above the first as below the last.
    const int above = r.top() - area.top();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    EXPECT_EQ(std::pair(above > 0, area.bottom() - row(39).bottom()), std::pair(true, above));
    ASSERT_TRUE(fake.publish(manyApps(60)));
    EXPECT_EQ(std::pair(panel.size(), list->height()), std::pair(size, 360)) << "the list scrolls";
    // A short list shows no scroll bar, and its columns end under their labels all the same. Its
    // icons (panel.png, left in the build folder to look at): images fill their cell; no icon, a
    // missing file or an unknown name show a gear inside it; a file is read once.
    auto apps = fewApps();
    apps.push_back({"m", "Icon Missing", 0.09, 20480, 1, dir.filePath("gone.png").toStdString()});
    apps.push_back({"u", "Unknown Icon Name", 0.08, 20480, 3, "no-such-icon"});
    ASSERT_TRUE(fake.publish(apps));
    for (int round = 0; round < 3; ++round) // the list's layout, then the header's
        QCoreApplication::processEvents();
    EXPECT_EQ(
        std::pair(list->verticalScrollBar()->isVisible(), layoutRow(row(0), 0, 0).memory.right()),
        std::pair(false, inPanel(part("memoryHeader")).right()));
    const QImage picture = panel.grab().toImage();
    EXPECT_TRUE(picture.save(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR", ".") + "/panel.png"));
    const auto near = [](QColor a, QColor b) {
        return std::hypot(a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue()) < 20;
    };
    for (int n = 0; n < 6; ++n) {
        const QRect cell = layoutRow(row(n), 0, 0).icon;
        const QColor background = picture.pixelColor(cell.topLeft());
        int painted = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const bool ink = picture.pixelColor(x, y) != background;
                painted += ink;
                EXPECT_TRUE(n < 3 ? near(picture.pixelColor(x, y), std::get<2>(icons[n]))
                                  : !ink || cell.adjusted(1, 1, -1, -1).contains(x, y))
                    << n;
            }
        EXPECT_TRUE(n < 3 || painted > 60) << n;
    }
    ASSERT_TRUE(QFile::remove(dir.filePath("wide.png")));
    ASSERT_TRUE(fake.publish(apps));
    EXPECT_TRUE(near(panel.grab().toImage().pixelColor(layoutRow(row(0), 0, 0).icon.center()),
                     std::get<2>(icons[0])));
    // Captions (the labels, the total) and the count in smaller type; digits of equal width.
    QFont large = panel.font();
    large.setPointSizeF(31);
    const auto height = [](const QFont& font) { return QFontMetrics(font).height(); };
    EXPECT_TRUE(height(caption2Font(large)) < height(captionFont(large)) &&
                height(captionFont(large)) < height(large));
    EXPECT_TRUE(hasTabularDigits(tabularFont(large)) &&
                hasTabularDigits(tabularFont(panel.font())));
}

// The texts under a decimal comma's locale (scripts/test-locale-setup); publications reach the
// rows step by step, never by a reset, and a hidden panel waits.
TEST_F(PanelTest, TextsIgnoreTheLocaleRowsFollowPublicationsAndAHiddenPanelWaits)
{
    ASSERT_TRUE(fake.publish(manyApps(5)));
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    show();
    EXPECT_EQ(part("total")->property("text").toString(), "Total CPU 2%"); // 16.25 on 8 cores
    QAbstractItemModelTester tester(panel.findChild<QListView*>("rows")->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&panel.model(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(&panel.model(), &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(fake.publish(fewApps()));
    QStringList shown;
    for (const char* name : {"appHeader", "cpuHeader", "memoryHeader", "quit", "total"})
        shown << part(name)->property("text").toString();
    shown << QString::fromStdString(
        shownRows(panel.model(), {UsageModel::CpuTextRole, UsageModel::MemoryTextRole,
                                  UsageModel::CountTextRole}));
    EXPECT_EQ(shown.join('|'), "App|CPU|Memory|Quit|Total CPU 37%|250.0%|1.5 GB|1234; 30.0%|"
                               "500 MB|; 19.1%|1024 MB|2; 0.1%|1.0 GB|");
    const int height = panel.height(); // a failed cycle: the figures stay, with a line saying so
    ASSERT_TRUE(fake.publish({}, 1));
    EXPECT_TRUE(
        part("total")->property("text").toString().startsWith("Total CPU 37%\nNot updated since "));
    EXPECT_EQ(std::pair(panel.model().rowCount(), panel.height() > height), std::pair(4, true));
    std::setlocale(LC_ALL, previous.c_str());
    QLocale::setDefault(QLocale::c());
    // The terminal rises to the top: its index follows, and only its row is announced.
    const QPersistentModelIndex terminal = panel.model().index(3, 0);
    auto apps = fewApps();
    apps[3].cpu = 300;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(fake.publish(apps));
    EXPECT_EQ(std::tuple(terminal.row(), changes.count(), resets.count()), std::tuple(0, 1, 0));
    EXPECT_EQ(std::pair(part("total")->property("text"), panel.height()),
              std::pair(QVariant("Total CPU 75%"), height));
    EXPECT_EQ(changes.value(0).value(1).value<QModelIndex>().row(), 0);
    panel.hide();
    ASSERT_TRUE(fake.publish(manyApps(7)));
    EXPECT_EQ(panel.model().rowCount(), 4);
}

// Input as our layer-shell surface hands it over: the wheel scrolls; the pointer over the list
// holds the rows' order over refreshes while their figures change, a new application joining at
// the end and one that ended fading out where it was, until it leaves; a plain Q does not quit.
TEST_F(PanelTest, WheelScrollsThePointerHoldsTheOrderUntilItLeavesAndPlainQDoesNotQuit)
{
    auto apps = manyApps(40);
    ASSERT_TRUE(fake.publish(apps));
    show(true);
    WidgetInput input(panel);
    input.moved(QPointF(100, 100));
    input.wheel(QPoint(0, -120));
    EXPECT_GT(panel.findChild<QScrollArea*>("listArea")->verticalScrollBar()->value(), 0);
    const std::string before = ids(panel.model());
    QSignalSpy removed(&panel.model(), &QAbstractItemModel::rowsRemoved);
    for (int round = 1; round <= 5; ++round) {
        for (std::size_t i = 0; i < apps.size(); ++i)
            apps[i].cpu = round % 2 ? double(i) : 50 - double(i);
        if (round == 3)
            apps.erase(apps.begin() + 2), apps.push_back({"n", "New", 50, 1});
        ASSERT_TRUE(fake.publish(apps));
        EXPECT_EQ(ids(panel.model()), round < 3 ? before : before + "; n") << round;
        EXPECT_EQ(panel.model().index(0, 0).data(UsageModel::CpuTextRole).toString(),
                  round % 2 ? "0.0%" : "50.0%");
    }
    ASSERT_TRUE(removed.wait(5000)) << "app2 fades out, then leaves";
    EXPECT_EQ(ids(panel.model()).substr(0, 18), "app0; app1; app3; ");
    input.left();
    EXPECT_EQ(ids(panel.model()).substr(0, 17), "n; app39; app38; ");
    QTimer::singleShot(0, [&] { input.key(Qt::Key_Q, Qt::NoModifier, "q", true); });
    QTimer::singleShot(300, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QCoreApplication::exec(), 7);
}

// A click unfolds a row into its processes, sorted as rows are; they follow each refresh by
// moves, inserts and removes (no reset); the keys move a ring over the rows, unfold and fold.
// Leaves panel-unfolded.png to look at. Then the rows' actions.
TEST_F(PanelTest, RowsUnfoldAndOpenTheirActionsByClickAndKeys)
{
    std::vector<FakeApp> apps{{"b", "Browser", 30, 512000, 1}, {"e", "Editor", 19.1, 2048, 3}};
    ASSERT_TRUE(fake.publish(apps));
    show();
    auto* rows = panel.findChild<QListView*>("rows");
    const UsageModel& m = panel.model();
    QAbstractItemModelTester tester(rows->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      row(1).center() - rows->viewport()->mapTo(&panel, QPoint()));
    EXPECT_EQ(shownRows(m), "Browser||30.0%|500 MB; Editor|3|19.1%|2 MB; e|1011|19.1%|2 MB; "
                            "helper|1012|0.0%|0 MB; helper|1013|0.0%|0 MB");
    // The helpers get busy: their lines rise; the unfolded row keeps the rows' order.
    apps[1].helperCpu = 25;
    ASSERT_TRUE(fake.publish(apps));
    EXPECT_EQ(shownRows(m), "Browser||30.0%|500 MB; Editor|3|69.1%|2 MB; helper|1012|25.0%|0 MB; "
                            "helper|1013|25.0%|0 MB; e|1011|19.1%|2 MB");
    apps[1].processes = 2; // one ends
    ASSERT_TRUE(fake.publish(apps));
    EXPECT_EQ(std::pair(m.subjectAt(3)->appId + m.subjectAt(3)->name, rows->hasFocus()),
              std::pair(std::string("eEditor"), false)); // a click does not take the keyboard
    EXPECT_EQ(m.subjectAt(3)->pids, (std::vector<std::int32_t>{1012, 1011}));
    EXPECT_EQ(shownRows(m, {Qt::AccessibleTextRole}),
              "Browser, 1 process, CPU 30.0%, memory 500 MB; Editor, 2 processes, CPU 44.1%, "
              "memory 2 MB; helper, process 1012, CPU 25.0%, memory 0 MB; e, process 1011, CPU "
              "19.1%, memory 2 MB");
    // Down: the ring on the first row, then the next; on a line Left folds its row and the
    // order catches up; Right unfolds, Enter folds.
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_Down, "b; e; e; e"}, {Qt::Key_Down, "b; e; e; e"},  {Qt::Key_Down, "b; e; e; e"},
        {Qt::Key_Left, "e; b"},       {Qt::Key_Right, "e; e; e; b"}, {Qt::Key_Return, "e; b"},
        {Qt::Key_Right, "e; e; e; b"}};
    for (const auto& [key, order] : keys) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(ids(m), order) << key;
    }
    EXPECT_EQ(std::pair(rows->hasFocus(), rows->currentIndex().row()), std::pair(true, 0));
    const QImage picture = panel.grab().toImage();
    EXPECT_TRUE(
        picture.save(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR", ".") + "/panel-unfolded.png"));
    int ring = 0; // the ring's colour around the focused row, nowhere else
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixelColor(x, y) == panel.palette().color(QPalette::Highlight))
                ring += row(0).contains(x, y) ? 1 : -1000;
    EXPECT_GT(ring, 100);
    EXPECT_EQ(resets.count(), 0);
    panel.hide(); // it opens folded
    show();
    EXPECT_EQ(std::pair(ids(m), rows->hasFocus()), std::pair(std::string("e; b"), false));

    // A right-click on a row, or Menu / Shift+F10 on the focused row, opens its actions over the
    // panel itself; they hold the rows' order, and Escape closes them, not the panel. Leaves
    // panel-actions.png to look at.
    auto* actions = panel.findChild<ActionOverlay*>("actions");
    const auto open = [&] { return actions->isVisible() && actions->geometry() == panel.rect(); };
    QTest::mouseClick(rows->viewport(), Qt::RightButton, {},
                      row(1).center() - rows->viewport()->mapTo(&panel, QPoint()));
    ASSERT_TRUE(open());
    EXPECT_EQ(actions->message(), "Browser");
    apps[0].cpu = 90;
    ASSERT_TRUE(fake.publish(apps));
    EXPECT_EQ(ids(m), "e; b");
    EXPECT_TRUE(panel.grab().save(qEnvironmentVariable("CORVEL_TEST_BUILD_DIR", ".") +
                                  "/panel-actions.png"));
    QTest::keyClick(actions->focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(std::tuple(actions->isVisible(), panel.isVisible(), ids(m)),
              std::tuple(false, true, std::string("b; e")));
    QTest::keyClick(&panel, Qt::Key_Down); // the ring on the first row
    for (const auto& [key, modifiers] :
         {std::pair(Qt::Key_Menu, Qt::NoModifier), std::pair(Qt::Key_F10, Qt::ShiftModifier)}) {
        QTest::keyClick(rows, key, modifiers);
        EXPECT_TRUE(open() && actions->message() == "Browser") << key;
        QTest::keyClick(actions->focusWidget(), Qt::Key_Escape);
    }
}

} // namespace
