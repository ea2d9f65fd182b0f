#pragma once

#include "action_subject.h"
#include "attribution.h"
#include "row_arrangement.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QTimer>

namespace corvel {

// The panel's rows: one per AppUsage of the latest publication, keyed by its id, and under an
// unfolded row one line per process of it (see row_arrangement.h). Each new publication is
// announced as the removes, inserts and moves that lead from the old keys to the new ones,
// then as data changes of the rows whose figures changed; never as a reset, so views keep
// their scroll position and persistent indexes follow their rows.
class UsageModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1, // QString: the application's id, also on its lines
        IconKeyRole,               // QString: icon-theme name or absolute path; empty for none
        CountTextRole,             // QString: the process count from 2 on, a line's pid, or empty
        CpuTextRole,               // QString: "12.3%"; empty on the line that counts the rest
        MemoryTextRole,            // QString: "742 MB", "1.5 GB"; likewise
        KindRole,                  // int: ListEntry::Kind
        OpacityRole,               // qreal: 1, less while an entry that ended fades out
    };

    // What holds the order of the rows besides an unfolded row. The pointer over the list and
    // open actions hold the processes' lines too.
    enum class Hold : unsigned { pointer = 1, actions = 2 };

    explicit UsageModel(QObject* parent = nullptr);

    // Makes the rows those of `apps`, whose ids are unique.
    void apply(std::vector<AppUsage> apps);

    // Unfolds a folded application row, folds an unfolded one; false for other rows.
    bool setUnfolded(int row, bool unfolded);
    bool isUnfolded(int row) const;
    // The row of the application a row or line belongs to; -1 for none.
    int appRowOf(int row) const;
    void setHeld(Hold reason, bool held);
    // Everything folded, nothing held: as the panel first opens.
    void settle();

    // The application of a row or line as it is now; none for a row out of range.
    std::optional<ActionSubject> subjectAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    void rearrange();
    void fadeStep();

    std::vector<AppUsage> published_;
    std::vector<ListEntry> rows_;
    std::set<std::string, std::less<>> unfolded_;
    unsigned holds_ = 0;
    QTimer fade_;
};

} // namespace corvel
