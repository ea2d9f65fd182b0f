#include "fake_monitor.h"
#include "usage_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QStringList>

namespace {

using corvel::UsageModel;
using corvel::test::FakeApp;
using corvel::test::FakeMonitor;

QStringList idsOf(const UsageModel& model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << model.index(row).data(UsageModel::IdRole).toString();
    return ids;
}

QStringList idsOf(const corvel::Monitor& monitor)
{
    QStringList ids;
    for (const corvel::AppUsage& app : monitor.apps())
        ids << QString::fromStdString(app.id);
    return ids;
}

int rowOf(const UsageModel& model, const QString& id)
{
    return static_cast<int>(idsOf(model).indexOf(id));
}

// The publications of a few cycles: applications trade places, come and go.
TEST(UsageModel, FollowsPublicationsWithoutReset)
{
    FakeMonitor fake({{"a", "Alpha", 30, 1000}, {"b", "Beta", 20, 1000}, {"c", "Gamma", 10, 1000}});
    UsageModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy moves(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    model.apply(fake.monitor().apps());
    EXPECT_EQ(idsOf(model), QStringList({"a", "b", "c"}));
    const QPersistentModelIndex gamma = model.index(2);

    const std::vector<std::vector<FakeApp>> cycles = {
        // Gamma rises to the top: one move, and every row's share changed.
        {{"a", "Alpha", 20, 1000}, {"b", "Beta", 15, 1000}, {"c", "Gamma", 40, 1000}},
        // Delta arrives in the middle, Beta leaves.
        {{"a", "Alpha", 20, 1000}, {"c", "Gamma", 40, 1000}, {"d", "Delta", 30, 1000, 3}},
        // Reversed, and Epsilon arrives at the end.
        {{"a", "Alpha", 50, 1000},
         {"c", "Gamma", 10, 1000},
         {"d", "Delta", 30, 1000, 3},
         {"e", "Epsilon", 1, 1000}},
        // Nothing left, then one again.
        {},
        {{"c", "Gamma", 5, 1000}},
    };
    for (std::size_t n = 0; n < cycles.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(fake.publish(cycles[n]));
        model.apply(fake.monitor().apps());
        EXPECT_EQ(idsOf(model), idsOf(fake.monitor()));
        if (n == 0) {
            EXPECT_EQ(moves.count(), 1);
            // Gamma's row followed it to the top.
            ASSERT_TRUE(gamma.isValid());
            EXPECT_EQ(gamma.row(), 0);
            EXPECT_EQ(gamma.data(UsageModel::IdRole).toString(), "c");
            EXPECT_EQ(gamma.data(UsageModel::CpuTextRole).toString(), "40.0%");
        }
        if (n == 2) {
            EXPECT_EQ(gamma.row(), rowOf(model, "c"));
        }
    }
    EXPECT_EQ(resets.count(), 0);
    EXPECT_GT(changes.count(), 0);
}

TEST(UsageModel, AnnouncesOnlyTheRowsWhoseFiguresChanged)
{
    FakeMonitor fake({{"a", "Alpha", 30, 1000}, {"b", "Beta", 20, 1000}, {"c", "Gamma", 10, 1000}});
    UsageModel model;
    model.apply(fake.monitor().apps());
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy structure(&model, &QAbstractItemModel::layoutChanged);

    ASSERT_TRUE(fake.publish(
        {{"a", "Alpha", 30, 1000}, {"b", "Beta", 20, 2048}, {"c", "Gamma", 10, 1000}}));
    model.apply(fake.monitor().apps());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<QModelIndex>().row(), 1);
    EXPECT_EQ(changes[0][1].value<QModelIndex>().row(), 1);

    model.apply(fake.monitor().apps()); // the same publication again
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(structure.count(), 0);
}

} // namespace
