// The panel's two hot paths: taking in one publication of 300 applications (5,000 processes),
// with every row folded and with the one of most processes unfolded, and painting the rows in
// sight. Runs on Qt's offscreen platform.
#include "attribution.h"
#include "row_delegate.h"
#include "usage_model.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QListView>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>

namespace {

using corvel::AppUsage;

constexpr int entries = 300;

// Successive publications as the sampling gives them: shares jitter, the order follows them,
// and every cycle two applications leave and two others arrive.
std::vector<std::vector<AppUsage>> publications(int count, const std::string& iconPath)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(0.8, 1.25);
    std::vector<AppUsage> apps;
    int nextId = 0;
    const auto make = [&] {
        AppUsage app;
        app.id = "org.example.Application" + std::to_string(nextId);
        app.name = "Application number " + std::to_string(nextId);
        if (nextId % 2 == 0)
            app.icon = std::make_shared<const corvel::IconRef>(corvel::IconRef{iconPath});
        app.cpu = 100.0 / (1 + nextId % 97);
        app.memoryKB = 1024L * (5 + nextId % 800);
        app.processCount = 1 + nextId % 5;
        ++nextId;
        return app;
    };
    // Each application has 1 to 32 processes by its number (about 5,000 in all), their shares
    // jitter each round and they sort as rows do.
    const auto withProcesses = [&](std::vector<AppUsage>& list) {
        for (AppUsage& app : list) {
            const int number = std::stoi(app.id.substr(app.id.find_first_of("0123456789")));
            auto own = std::make_shared<std::vector<corvel::ProcessUsage>>();
            for (int n = 0; n < 1 + number % 32; ++n)
                own->push_back({number * 100 + n, "helper-" + std::to_string(n % 7),
                                jitter(random) * n, 1024L * n});
            std::sort(own->begin(), own->end(),
                      [](const auto& a, const auto& b) { return a.cpu > b.cpu; });
            app.processCount = static_cast<std::int64_t>(own->size());
            app.processes = std::move(own);
        }
    };
    for (int i = 0; i < entries; ++i)
        apps.push_back(make());
    std::vector<std::vector<AppUsage>> result;
    for (int round = 0; round < count; ++round) {
        for (AppUsage& app : apps)
            app.cpu *= jitter(random);
        for (int k = 0; k < 2; ++k)
            apps[random() % apps.size()] = make();
        std::stable_sort(apps.begin(), apps.end(),
                         [](const AppUsage& a, const AppUsage& b) { return a.cpu > b.cpu; });
        result.push_back(apps);
        withProcesses(result.back());
    }
    return result;
}

struct Fixture
{
    QTemporaryDir dir;
    std::string icon;
    std::vector<std::vector<AppUsage>> rounds;

    Fixture()
    {
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(QColor(0x2a, 0x6f, 0xdb));
        const QString path = dir.filePath("app.png");
        image.save(path);
        icon = path.toStdString();
        rounds = publications(64, icon);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

// The model alone: the diff of the ids, the row steps and the data changes, including the
// copy of the published list the panel makes.
void BM_ApplyPublication(benchmark::State& state)
{
    const auto& rounds = fixture().rounds;
    corvel::UsageModel model;
    model.apply(rounds.back());
    int moves = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsMoved, [&] { ++moves; });
    std::size_t n = 0;
    for (auto _ : state) {
        model.apply(rounds[n++ % rounds.size()]);
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.counters["moves"] = benchmark::Counter(moves, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ApplyPublication)->Unit(benchmark::kMicrosecond);

// The same with a list view attached, as in the panel: the view's bookkeeping of the steps.
// Argument 1: the row of most processes unfolded.
void BM_ApplyPublicationWithView(benchmark::State& state)
{
    const auto& rounds = fixture().rounds;
    corvel::UsageModel model;
    corvel::RowDelegate delegate;
    QListView view;
    view.setUniformItemSizes(true);
    view.setItemDelegate(&delegate);
    view.setModel(&model);
    view.resize(365, 360);
    view.show();
    model.apply(rounds.back());
    if (state.range(0) != 0) {
        const auto most = std::max_element(
            rounds.back().begin(), rounds.back().end(),
            [](const AppUsage& a, const AppUsage& b) { return a.processCount < b.processCount; });
        model.setUnfolded(static_cast<int>(most - rounds.back().begin()), true);
    }
    QCoreApplication::processEvents();
    std::size_t n = 0;
    for (auto _ : state) {
        model.apply(rounds[n++ % rounds.size()]);
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_ApplyPublicationWithView)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One frame of the list: the rows that fit in its 360 points, painted by the delegate.
void BM_PaintVisibleRows(benchmark::State& state)
{
    corvel::UsageModel model;
    model.apply(fixture().rounds.front());
    corvel::RowDelegate delegate;
    QListView view; // gives the style option its font and palette
    QStyleOptionViewItem option;
    option.initFrom(&view);
    const int width = 365;
    const int height = delegate.rowHeightFor(option.font);
    const int visible = (360 - 8 + height - 1) / height;
    QImage frame(width, 360, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        QPainter painter(&frame);
        for (int row = 0; row < visible; ++row) {
            option.rect = QRect(0, 4 + row * height, width, height);
            delegate.paint(&painter, option, model.index(row, 0));
        }
    }
    state.counters["rows"] = visible;
}
BENCHMARK(BM_PaintVisibleRows)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
