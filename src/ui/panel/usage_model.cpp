#include "usage_model.h"

#include "formatting.h"
#include "row_diff.h"

#include <algorithm>
#include <string_view>

namespace corvel {
namespace {

using Kind = ListEntry::Kind;

// Frames of a fade: smooth enough for a short one, and only while something fades.
constexpr int fadeFrameMs = 40;

bool sameIcon(const IconHandle& a, const IconHandle& b)
{
    return a == b || (a && b && a->nameOrPath == b->nameOrPath);
}

// Whether two entries under the same key look the same.
bool sameLook(const ListEntry& a, const ListEntry& b)
{
    if (a.endedAt.has_value() != b.endedAt.has_value() || a.more != b.more)
        return false;
    if (a.kind == Kind::process)
        return a.process.cpu == b.process.cpu && a.process.memoryKB == b.process.memoryKB &&
               a.process.program == b.process.program;
    return sameIcon(a.app.icon, b.app.icon) && a.app.cpu == b.app.cpu &&
           a.app.memoryKB == b.app.memoryKB && a.app.processCount == b.app.processCount &&
           a.app.name == b.app.name;
}

std::vector<std::string_view> keysOf(const std::vector<ListEntry>& entries)
{
    std::vector<std::string_view> keys;
    keys.reserve(entries.size());
    for (const ListEntry& entry : entries)
        keys.emplace_back(entry.key);
    return keys;
}

QString qtext(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

double cpuOf(const ListEntry& entry)
{
    return entry.kind == Kind::process ? entry.process.cpu : entry.app.cpu;
}

std::int64_t memoryOf(const ListEntry& entry)
{
    return entry.kind == Kind::process ? entry.process.memoryKB : entry.app.memoryKB;
}

} // namespace

UsageModel::UsageModel(QObject* parent) : QAbstractListModel(parent)
{
    fade_.setInterval(fadeFrameMs);
    connect(&fade_, &QTimer::timeout, this, &UsageModel::fadeStep);
}

void UsageModel::apply(std::vector<AppUsage> apps)
{
    published_ = std::move(apps);
    rearrange();
}

void UsageModel::rearrange()
{
    const ListHolds holds{holds_ != 0 || !unfolded_.empty(), holds_ != 0};
    std::vector<ListEntry> next =
        arrangeList(rows_, published_, unfolded_, holds, ListClock::now());
    const std::vector<std::string_view> before = keysOf(rows_);
    const std::vector<std::string_view> after = keysOf(next);
    const std::vector<RowChange> changes = diffRows(before, after);

    if (changes.size() == 1 && changes.front().kind == RowChange::Kind::reset) {
        beginResetModel();
        rows_ = std::move(next);
        endResetModel();
        return;
    }
    // The views below only see keys until the data changes are announced, so the inserted
    // rows and the figures are copied in place as the steps go.
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
            const auto from = next.begin() + change.source;
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

    // Now rows_[i].key == next[i].key for every i; announce the rows whose figures differ.
    std::vector<std::pair<int, int>> changed; // runs of rows, first and last
    bool fading = false;
    for (int i = 0; i < static_cast<int>(next.size()); ++i) {
        fading |= next[i].endedAt.has_value();
        if (sameLook(rows_[i], next[i]))
            continue;
        if (!changed.empty() && changed.back().second == i - 1)
            changed.back().second = i;
        else
            changed.emplace_back(i, i);
    }
    rows_ = std::move(next);
    std::erase_if(unfolded_, [this](const std::string& id) {
        return std::none_of(rows_.begin(), rows_.end(),
                            [&](const ListEntry& entry) { return entry.key == id; });
    });
    for (const auto& [first, last] : changed)
        emit dataChanged(index(first), index(last));
    if (fading && !fade_.isActive())
        fade_.start();
    else if (!fading)
        fade_.stop();
}

void UsageModel::fadeStep()
{
    const auto now = ListClock::now();
    const bool done = std::any_of(rows_.begin(), rows_.end(), [&](const ListEntry& entry) {
        return entry.endedAt && now - *entry.endedAt >= fadeTime;
    });
    if (done)
        rearrange();
    for (int i = 0; i < rowCount(); ++i)
        if (rows_[static_cast<std::size_t>(i)].endedAt)
            emit dataChanged(index(i), index(i), {OpacityRole});
}

bool UsageModel::setUnfolded(int row, bool unfolded)
{
    if (row < 0 || row >= rowCount() || rows_[static_cast<std::size_t>(row)].kind != Kind::app)
        return false;
    const std::string& id = rows_[static_cast<std::size_t>(row)].key;
    if (unfolded ? !unfolded_.insert(id).second : unfolded_.erase(id) == 0)
        return true;
    rearrange();
    return true;
}

bool UsageModel::isUnfolded(int row) const
{
    return row >= 0 && row < rowCount() && rows_[static_cast<std::size_t>(row)].kind == Kind::app &&
           unfolded_.contains(rows_[static_cast<std::size_t>(row)].key);
}

int UsageModel::appRowOf(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    while (rows_[static_cast<std::size_t>(row)].kind != Kind::app)
        --row; // a line always follows its application's row
    return row;
}

void UsageModel::setHeld(Hold reason, bool held)
{
    const unsigned before = holds_;
    if (held)
        holds_ |= static_cast<unsigned>(reason);
    else
        holds_ &= ~static_cast<unsigned>(reason);
    if (holds_ != before && holds_ == 0)
        rearrange(); // the order catches up
}

void UsageModel::settle()
{
    holds_ = 0;
    unfolded_.clear();
    rearrange();
}

std::optional<ActionSubject> UsageModel::subjectAt(int row) const
{
    const int appRow = appRowOf(row);
    if (appRow < 0)
        return std::nullopt;
    const AppUsage& app = rows_[static_cast<std::size_t>(appRow)].app;
    ActionSubject subject{app.id, app.name, {}};
    if (app.processes)
        for (const ProcessUsage& process : *app.processes)
            subject.pids.push_back(process.pid);
    return subject;
}

int UsageModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant UsageModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ListEntry& entry = rows_[static_cast<std::size_t>(index.row())];
    const AppUsage& app = entry.app;
    const bool more = entry.kind == Kind::more;
    switch (role) {
    case Qt::DisplayRole:
        if (more)
            //: The line under "System & Background" that counts the processes not listed.
            return tr("and %1 more").arg(static_cast<qlonglong>(entry.more));
        return qtext(entry.kind == Kind::process ? entry.process.program : app.name);
    case Qt::AccessibleTextRole: {
        if (more)
            return data(index, Qt::DisplayRole);
        const QString figures =
            tr("CPU %1, memory %2")
                .arg(qtext(formatShare(cpuOf(entry))), qtext(formatMemory(memoryOf(entry))));
        if (entry.kind == Kind::process)
            return tr("%1, process %2, %3")
                .arg(qtext(entry.process.program))
                .arg(entry.process.pid)
                .arg(figures);
        if (app.processCount == 1)
            return tr("%1, 1 process, %2").arg(qtext(app.name), figures);
        return tr("%1, %2 processes, %3")
            .arg(qtext(app.name))
            .arg(static_cast<qlonglong>(app.processCount))
            .arg(figures);
    }
    case IdRole:
        return qtext(entry.appId);
    case IconKeyRole:
        return app.icon && entry.kind == Kind::app ? qtext(app.icon->nameOrPath) : QString();
    case CountTextRole:
        if (entry.kind == Kind::process)
            return QString::number(entry.process.pid);
        //: Number of processes of one application, shown after its name.
        return entry.kind == Kind::app && app.processCount >= 2
                   ? tr("%1").arg(static_cast<qlonglong>(app.processCount))
                   : QString();
    case CpuTextRole:
        return more ? QString() : qtext(formatShare(cpuOf(entry)));
    case MemoryTextRole:
        return more ? QString() : qtext(formatMemory(memoryOf(entry)));
    case KindRole:
        return static_cast<int>(entry.kind);
    case OpacityRole: {
        if (!entry.endedAt)
            return 1.0;
        const double gone = std::chrono::duration<double>(ListClock::now() - *entry.endedAt) /
                            std::chrono::duration<double>(fadeTime);
        return std::clamp(1.0 - gone, 0.0, 1.0);
    }
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
    names.insert(KindRole, "kind");
    names.insert(OpacityRole, "opacity");
    return names;
}

} // namespace corvel
