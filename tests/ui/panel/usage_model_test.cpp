#include "usage_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QStringList>

namespace {

using corvel::AppUsage;
using corvel::UsageModel;

// A publication: ids in order, each with its cpu share (and memory 1000 KiB).
std::vector<AppUsage> apps(const std::vector<std::pair<const char*, double>>& shares)
{
    std::vector<AppUsage> list;
    for (const auto& [id, cpu] : shares)
        list.push_back(AppUsage{id, id, nullptr, cpu, 1000, 1});
    return list;
}

// Publications of a few cycles: applications trade places, come and go, and the model follows
// with moves, inserts and removes, never a reset; a row's index follows the row, and only rows
// whose figures changed are announced.
TEST(UsageModel, FollowsPublicationsRowByRow)
{
    UsageModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy moves(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    auto first = apps({{"a", 30}, {"b", 20}, {"c", 10}});
    model.apply(first);
    first[1].memoryKB = 2048;
    for (int i = 0; i < 2; ++i) // the same publication again announces nothing
        model.apply(first);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<QModelIndex>().row(), 1);
    EXPECT_EQ(changes[0][1].value<QModelIndex>().row(), 1);
    const QPersistentModelIndex c = model.index(2);
    model.apply(apps({{"c", 40}, {"a", 20}, {"b", 15}}));
    EXPECT_EQ(moves.count(), 1);
    EXPECT_EQ(c.row(), 0);
    EXPECT_EQ(c.data(UsageModel::CpuTextRole).toString(), "40.0%");
    for (const auto& next :
         {apps({{"c", 40}, {"d", 30}, {"a", 20}}),
          apps({{"a", 50}, {"d", 30}, {"c", 10}, {"e", 1}}), apps({}), apps({{"c", 5}})}) {
        model.apply(next);
        QStringList ids, expected;
        for (int row = 0; row < model.rowCount(); ++row)
            ids << model.index(row).data(UsageModel::IdRole).toString();
        for (const AppUsage& app : next)
            expected << QString::fromStdString(app.id);
        EXPECT_EQ(ids, expected);
    }
    EXPECT_EQ(resets.count() + layout.count(), 0);
}

} // namespace
