#pragma once

// The rows of a ListView and the model the view shows them through.

#include "platform/ListView.h"
#include "platform/LiveSlots.h"
#include "platform/SortKey.h"

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QMimeData>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace KavriVendorEmp::platform {

struct ListRow
{
    QString text;
    QString subItems[ListView::ColumnCount - 1];
    // The sort key of one column, the one the row's list sorts by (keyColumn), and the case-folded
    // text where that key is not exact. A list may hold tens of thousands of rows: keys of the
    // other columns would only be read after a header click, which makes them afresh, and few
    // texts need their fold, so it is held apart.
    ColumnKey key;
    std::unique_ptr<QString> fold; // none while the key is exact
    quint64 seq = 0;            // insertion sequence: the tie-break that keeps ties in order
    ListModel *owner = nullptr; // null once the row has left its list
    ListRow *selPrev = nullptr; // the list's selected rows, linked through the rows
    ListRow *selNext = nullptr;
    int refs = 1; // the list's own reference plus one per handle; one UI thread, no atomics
    bool removed = false; // a tombstone: still in its slot until the slots are compacted
    bool selected = false;
    qint8 keyColumn = -1; // the column `key` is of; -1 before the row first joins a list

    const QString &column(int n) const { return n == 0 ? text : subItems[n - 1]; }
};

inline void retain(ListRow *row)
{
    if (row)
        ++row->refs;
}

inline void release(ListRow *row)
{
    if (row && --row->refs == 0)
        delete row;
}

// The list's rows and their model (the view keeps its own state in ListViewPrivate).
//
// Rows live in `slots`, in the list's order. Outside a BulkUpdate the order is always exact, so
// every single operation emits its own fine-grained model signal. Inside one the model is reset
// at the first change and the order may go stale (`dirty`): it is restored by one sort when an
// order is next needed, at the latest when the outermost BulkUpdate ends.
//
// A removed row stays in its slot as a tombstone, so that removing rows from the last position
// down costs O(1) each: positions before the first tombstone are slot numbers, later ones go
// through LiveSlots. Tombstones keep their keys, so binary searches over the slots still work;
// they are compacted away before anything inserts or reorders.
//
// Collation: texts compare case-insensitively (by their case folds), then case-sensitively by
// UTF-16 code units, then by insertion sequence. Digit strings therefore order by plain
// character order ("100" before "12" before "7").
class ListModel final : public QAbstractTableModel
{
public:
    explicit ListModel(ListView *view) : m_view(view) {}
    ~ListModel() override { dropAllRows(); }

    // QAbstractItemModel
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_live);
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : ListView::ColumnCount;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::AccessibleDescriptionRole)
            return noteOf(index);
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_live)
            return {};
        return rowAt(index.row())->column(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return m_headers.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
               Qt::ItemNeverHasChildren;
    }
    // A drag carries no rows, only the name of the list they are in: the control moves the
    // source list's selected rows itself. Without removeRows the view never drops rows either.
    QStringList mimeTypes() const override { return {ListView::dragMimeType()}; }
    QMimeData *mimeData(const QModelIndexList &) const override
    {
        auto *data = new QMimeData;
        data->setData(ListView::dragMimeType(), m_view->objectName().toUtf8());
        return data;
    }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }

    // Rows
    qsizetype count() const { return m_live; }
    qsizetype checkedPosition(int position) const
    {
        if (position < 1 || position > m_live)
            throw std::out_of_range("ListItems: no row at that position");
        return position - 1;
    }
    ListRow *item(qsizetype pos)
    {
        ensureOrdered();
        return rowAt(pos);
    }
    ListRow *add(const QString &text);
    ListRow *addCopy(const ListRow &from);
    std::vector<ListRow *> takeFrom(ListModel &source, const std::vector<int> &positions);
    void remove(qsizetype pos);
    void clear();
    void reserve(qsizetype rows) { m_slots.reserve(m_slots.size() + std::size_t(rows)); }
    ListRow *find(const QString &text);
    std::vector<int> selectedPositions();
    qsizetype positionOf(const ListRow *row);

    void setColumnText(ListRow *row, int column, const QString &value);
    // setColumnText with the text's last unit dropped, or with `unit` appended. Inside a
    // BulkUpdate the text changes in place, so that a text the row alone holds is not copied.
    void changeColumnEnd(ListRow *row, int column, QChar unit, bool append);
    void setSelected(ListRow *row, bool selected);
    void ensureVisible(ListRow *row);
    ListRow *current() const { return m_current; }
    bool rowMarked(int row) const { return row >= 0 && row < m_live && rowAt(row)->selected; }

    bool multiSelect = false;
    int sortKey() const { return m_sortKey; }
    int sortOrder() const { return m_sortOrder; }
    void setSort(int key, int order);

    void beginBulk() { ++m_bulk; }
    void endBulk();

    // User input reaching the rows through the selection model.
    void userSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void userCurrentChanged(const QModelIndex &current);

    QStringList m_headers;
    ListView::RowNote m_rowNote;

private:
    // Marks our own changes to the selection model, so that its signals are not taken for user
    // input.
    class Syncing
    {
    public:
        explicit Syncing(ListModel &model) : m_model(model), m_old(model.m_syncing)
        {
            m_model.m_syncing = true;
        }
        ~Syncing() { m_model.m_syncing = m_old; }
        Q_DISABLE_COPY(Syncing)

    private:
        ListModel &m_model;
        bool m_old;
    };

    QItemSelectionModel *selection() const { return m_view->selectionModel(); }
    QVariant noteOf(const QModelIndex &index) const;

    // Both rows hold the key of the sort column (keyTo).
    bool before(const ListRow *a, const ListRow *b) const
    {
        Q_ASSERT(a->keyColumn == m_sortKey && b->keyColumn == m_sortKey);
        int c = compareKeys(a->key, b->key);
        if (c == 2) {
            c = foldOf(a).compare(foldOf(b));
            if (c == 0)
                c = a->column(m_sortKey).compare(b->column(m_sortKey));
        }
        if (c != 0)
            return m_sortOrder == 0 ? c < 0 : c > 0;
        return a->seq < b->seq;
    }
    // Makes the row's key that of `column`, unless it already is.
    static void keyTo(ListRow *row, int column)
    {
        if (row->keyColumn != column) {
            row->keyColumn = qint8(column);
            refold(row);
        }
    }
    // The key of the row's key column, made afresh from its text.
    static void refold(ListRow *row)
    {
        QString fold;
        row->key = columnKey(row->column(row->keyColumn), fold);
        if (row->key.exact)
            row->fold.reset();
        else if (row->fold)
            *row->fold = std::move(fold);
        else
            row->fold = std::make_unique<QString>(std::move(fold));
    }
    // Needed only where two keys tie on their first 24 folded code units, so seldom that an
    // exact key's fold is made afresh.
    static QString foldOf(const ListRow *row)
    {
        return row->key.exact ? caseFolded(row->column(row->keyColumn)) : *row->fold;
    }

    // Sorts the slots, calling aboutToChange first; false (and no call) when they were in order.
    // The sort runs over a contiguous copy of the keys, which keeps it in the cache.
    template <typename AboutToChange> bool sortSlots(AboutToChange aboutToChange)
    {
        struct Entry
        {
            ColumnKey key;
            quint64 seq;
            ListRow *row;
        };
        const int k = m_sortKey;
        std::vector<Entry> entries;
        entries.reserve(m_slots.size());
        for (ListRow *row : m_slots) {
            keyTo(row, k);
            entries.push_back({row->key, row->seq, row});
        }
        const bool descending = m_sortOrder != 0;
        const auto less = [this, descending](const Entry &a, const Entry &b) {
            const int c = compareKeys(a.key, b.key);
            if (c == 2)
                return before(a.row, b.row);
            if (c != 0)
                return (c < 0) != descending;
            return a.seq < b.seq;
        };
        const auto unsorted = std::is_sorted_until(entries.begin(), entries.end(), less);
        if (unsorted == entries.end())
            return false;
        aboutToChange();
        // Rows appended in order to rows in order (a move of many rows into a list) only need
        // merging.
        if (std::is_sorted(unsorted, entries.end(), less))
            std::inplace_merge(entries.begin(), unsorted, entries.end(), less);
        else
            std::sort(entries.begin(), entries.end(), less);
        for (std::size_t i = 0; i < entries.size(); ++i)
            m_slots[i] = entries[i].row;
        return true;
    }

    ListRow *rowAt(qsizetype pos) const { return m_slots[slotAt(pos)]; }
    qsizetype slotAt(qsizetype pos) const
    {
        if (pos < m_firstHole)
            return pos;
        if (!m_liveSlots.built())
            m_liveSlots.build(m_slots);
        return m_liveSlots.select(pos + 1);
    }
    qsizetype slotOf(const ListRow *row) const
    {
        const auto it =
            std::lower_bound(m_slots.begin(), m_slots.end(), row,
                             [this](const ListRow *a, const ListRow *b) { return before(a, b); });
        Q_ASSERT(it != m_slots.end() && *it == row);
        return it - m_slots.begin();
    }
    qsizetype positionOfSlot(qsizetype slot) const
    {
        if (slot < m_firstHole)
            return slot;
        if (!m_liveSlots.built())
            m_liveSlots.build(m_slots);
        return m_liveSlots.prefix(slot) - 1;
    }

    ListRow *insert(ListRow *row);
    void keyChangedInBulk(ListRow *row);
    void compact();
    void ensureOrdered();
    void bulkChange();
    void dropAllRows();

    void mark(ListRow *row);
    void unmark(ListRow *row);
    void syncSelection();
    void syncCurrent();

    ListView *const m_view;
    std::vector<ListRow *> m_slots;
    qsizetype m_live = 0;
    qsizetype m_firstHole = 0; // slot of the first tombstone; m_slots.size() when none
    mutable LiveSlots m_liveSlots;
    quint64 m_nextSeq = 0;
    int m_sortKey = 0;
    int m_sortOrder = 0;
    bool m_dirty = false; // the slots may be out of order (only inside a BulkUpdate)
    // While dirty: the last slot's row, when it is the only row that may be out of order.
    ListRow *m_unsortedLast = nullptr;
    ListRow *m_current = nullptr;
    ListRow *m_selHead = nullptr;
    qsizetype m_selectedCount = 0;

    int m_bulk = 0;
    bool m_resetting = false;      // inside a BulkUpdate, a model reset has begun
    bool m_selectionDirty = false; // inside a BulkUpdate, a mark changed
    bool m_currentDirty = false;   // inside a BulkUpdate, the current row changed
    ListRow *m_pendingScroll = nullptr;
    bool m_syncing = false;
};

} // namespace KavriVendorEmp::platform
