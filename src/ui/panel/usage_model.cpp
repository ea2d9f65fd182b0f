#include "usage_model.h"

#include "formatting.h"
#include "row_diff.h"

#include <algorithm>
#include <string_view>

namespace corvel {
namespace {

bool sameFigures(const AppUsage& a, const AppUsage& b)
{
    const bool sameIcon =
        a.icon == b.icon || (a.icon && b.icon && a.icon->nameOrPath == b.icon->nameOrPath);
    return sameIcon && a.cpu == b.cpu && a.memoryKB == b.memoryKB &&
           a.processCount == b.processCount && a.name == b.name;
}

std::vector<std::string_view> idsOf(const std::vector<AppUsage>& apps)
{
    std::vector<std::string_view> ids;
    ids.reserve(apps.size());
    for (const AppUsage& app : apps)
        ids.emplace_back(app.id);
    return ids;
}

QString qtext(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

UsageModel::UsageModel(QObject* parent) : QAbstractListModel(parent) {}

void UsageModel::apply(std::vector<AppUsage> apps)
{
    const std::vector<std::string_view> before = idsOf(rows_);
    const std::vector<std::string_view> after = idsOf(apps);
    const std::vector<RowChange> changes = diffRows(before, after);

    if (changes.size() == 1 && changes.front().kind == RowChange::Kind::reset) {
        beginResetModel();
        rows_ = std::move(apps);
        endResetModel();
        return;
    }
    // The views below only see ids until the data changes are announced, so the inserted rows
    // and the figures are copied in place as the steps go.
    for (const RowChange& change : changes) {
        const auto at = rows_.begin() + change.first;
        switch (change.kind) {
        case RowChange::Kind::remove:
            beginRemoveRows({}, change.first, change.first + change.count - 1);
            rows_.erase(at, at + change.count);
            endRemoveRows();
            break;
        case RowChange::Kind::insert: {
            beginInsertRows({}, change.first, change.first + change.count - 1);
            const auto from = apps.begin() + change.source;
            rows_.insert(at, from, from + change.count);
            endInsertRows();
            break;
        }
        case RowChange::Kind::move:
            beginMoveRows({}, change.first, change.first, {}, change.destination);
            if (change.destination < change.first)
                std::rotate(rows_.begin() + change.destination, at, at + 1);
            else
                std::rotate(at, at + 1, rows_.begin() + change.destination);
            endMoveRows();
            break;
        case RowChange::Kind::reset:
            break;
        }
    }

    // Now rows_[i].id == apps[i].id for every i; announce the rows whose figures differ.
    std::vector<std::pair<int, int>> changed; // runs of rows, first and last
    for (int i = 0; i < static_cast<int>(apps.size()); ++i) {
        if (sameFigures(rows_[i], apps[i]))
            continue;
        if (!changed.empty() && changed.back().second == i - 1)
            changed.back().second = i;
        else
            changed.emplace_back(i, i);
    }
    rows_ = std::move(apps);
    for (const auto& [first, last] : changed)
        emit dataChanged(index(first), index(last));
}

int UsageModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant UsageModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const AppUsage& app = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return qtext(app.name);
    case IdRole:
        return qtext(app.id);
    case IconKeyRole:
        return app.icon ? qtext(app.icon->nameOrPath) : QString();
    case CountTextRole:
        //: Number of processes of one application, shown after its name.
        return app.processCount >= 2 ? tr("%1").arg(static_cast<qlonglong>(app.processCount))
                                     : QString();
    case CpuTextRole:
        return qtext(formatShare(app.cpu));
    case MemoryTextRole:
        return qtext(formatMemory(app.memoryKB));
    default:
        return {};
    }
}

QHash<int, QByteArray> UsageModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(IdRole, "id");
    names.insert(IconKeyRole, "iconKey");
    names.insert(CountTextRole, "countText");
    names.insert(CpuTextRole, "cpuText");
    names.insert(MemoryTextRole, "memoryText");
    return names;
}

} // namespace corvel
