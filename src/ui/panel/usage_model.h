#pragma once

#include "attribution.h"

#include <vector>

#include <QAbstractListModel>

namespace corvel {

// The panel's rows: one per AppUsage of the latest publication, keyed by its id. Each new
// publication is announced as the removes, inserts and moves that lead from the old ids to the
// new ones, then as data changes of the rows whose figures changed; never as a reset, so views
// keep their scroll position and persistent indexes follow their rows.
class UsageModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1, // QString
        IconKeyRole,               // QString: icon-theme name or absolute path; empty for none
        CountTextRole,             // QString: the process count from 2 on, else empty
        CpuTextRole,               // QString: "12.3%"
        MemoryTextRole,            // QString: "742 MB", "1.5 GB"
    };

    explicit UsageModel(QObject* parent = nullptr);

    // Makes the rows those of `apps`, whose ids are unique.
    void apply(std::vector<AppUsage> apps);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    std::vector<AppUsage> rows_;
};

} // namespace corvel
