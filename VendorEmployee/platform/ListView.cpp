#include "platform/ListView.h"
#include "platform/LiveSlots.h"
#include "platform/SortKey.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace KavriVendorEmp::platform {

namespace {

constexpr int columnCount = 3;
constexpr double twipsPerPixel = 15.0;

// The indicator sits on the visible column the key stands for: the change code (key 2) is
// shown as the ID column.
void showSortIndicator(ListView *view)
{
    view->header()->setSortIndicator(view->SortKey() == 1 ? 1 : 0, view->SortOrder() == 0
                                                                       ? Qt::AscendingOrder
                                                                       : Qt::DescendingOrder);
}

} // namespace

struct ListRow
{
    QString text;
    QString subItems[2];
    // Per column: the sort key, and the case-folded text where the key is not exact.
    QString fold[3];
    ColumnKey keys[3];
    quint64 seq = 0;            // insertion sequence: the tie-break that keeps ties in order
    ListModel *owner = nullptr; // null once the row has left its list
    bool removed = false;       // a tombstone: still in its slot until the slots are compacted
    bool selected = false;
    ListRow *selPrev = nullptr; // the list's selected rows, linked through the rows
    ListRow *selNext = nullptr;
    int refs = 1; // the list's own reference plus one per handle; one UI thread, no atomics

    const QString &column(int n) const { return n == 0 ? text : subItems[n - 1]; }
};

namespace {

void retain(ListRow *row)
{
    if (row)
        ++row->refs;
}

void release(ListRow *row)
{
    if (row && --row->refs == 0)
        delete row;
}

} // namespace

// The list's rows and their model; also the private part of ListView.
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
        return parent.isValid() ? 0 : platform::columnCount;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
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
    ListRow *find(const QString &text);
    qsizetype positionOf(const ListRow *row);

    void setColumnText(ListRow *row, int column, const QString &value);
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
    QList<double> m_widths;

    // Mouse state of the view: a left press seen, and the press that a double-click ended.
    bool leftPressed = false;
    bool doubleClicked = false;
    // Type-ahead: the prefix typed so far and the time of its last key.
    QString typed;
    QElapsedTimer typedAt;
    // The cell under the mouse, followed as QAbstractItemView follows it, for painting.
    QPersistentModelIndex hover;

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

    bool before(const ListRow *a, const ListRow *b) const
    {
        const int k = m_sortKey;
        int c = compareKeys(a->keys[k], b->keys[k]);
        if (c == 2) {
            c = foldOf(a, k).compare(foldOf(b, k));
            if (c == 0)
                c = a->column(k).compare(b->column(k));
        }
        if (c != 0)
            return m_sortOrder == 0 ? c < 0 : c > 0;
        return a->seq < b->seq;
    }
    static void refold(ListRow *row, int column)
    {
        row->keys[column] = columnKey(row->column(column), row->fold[column]);
    }
    // Needed only where two keys tie on their first 24 folded code units, so seldom that an
    // exact key's fold is made afresh.
    static QString foldOf(const ListRow *row, int column)
    {
        return row->keys[column].exact ? caseFolded(row->column(column)) : row->fold[column];
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
        for (ListRow *row : m_slots)
            entries.push_back({row->keys[k], row->seq, row});
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

void ListModel::compact()
{
    if (m_firstHole == qsizetype(m_slots.size()))
        return;
    auto out = m_slots.begin() + m_firstHole;
    for (auto in = out; in != m_slots.end(); ++in) {
        if ((*in)->removed)
            release(*in);
        else
            *out++ = *in;
    }
    m_slots.erase(out, m_slots.end());
    m_firstHole = qsizetype(m_slots.size());
    m_liveSlots.clear();
}

void ListModel::ensureOrdered()
{
    if (!m_dirty)
        return;
    Q_ASSERT(m_resetting); // positions only change while the view is told nothing
    compact();
    sortSlots([] {});
    m_dirty = false;
}

void ListModel::bulkChange()
{
    if (!m_resetting) {
        const Syncing syncing(*this);
        beginResetModel();
        m_resetting = true;
    }
}

void ListModel::dropAllRows()
{
    for (ListRow *row : m_slots) {
        if (!row->removed) {
            row->owner = nullptr;
            row->removed = true;
            row->selected = false;
            row->selPrev = row->selNext = nullptr;
        }
        release(row);
    }
    m_slots.clear();
    m_live = 0;
    m_firstHole = 0;
    m_liveSlots.clear();
    m_current = nullptr;
    m_selHead = nullptr;
    m_selectedCount = 0;
    if (m_pendingScroll) {
        release(m_pendingScroll);
        m_pendingScroll = nullptr;
    }
}

ListRow *ListModel::add(const QString &text)
{
    auto *row = new ListRow;
    row->text = text;
    refold(row, 0);
    return insert(row);
}

ListRow *ListModel::addCopy(const ListRow &from)
{
    auto *row = new ListRow;
    row->text = from.text;
    for (int n = 0; n < 2; ++n)
        row->subItems[n] = from.subItems[n];
    for (int column = 0; column < platform::columnCount; ++column) {
        row->fold[column] = from.fold[column];
        row->keys[column] = from.keys[column];
    }
    return insert(row);
}

// Inside a BulkUpdate of both lists; positions checked.
std::vector<ListRow *> ListModel::takeFrom(ListModel &source, const std::vector<int> &positions)
{
    bulkChange();
    source.bulkChange();
    source.ensureOrdered();
    source.compact(); // positions are slots now
    const qsizetype count = qsizetype(source.m_slots.size());
    std::vector<bool> taken(std::size_t(count), false);
    for (const int position : positions)
        taken[std::size_t(position - 1)] = true;

    // Where Remove from the last down leaves the current row: on the first row kept after it,
    // else on the last row kept before it.
    if (ListRow *current = source.m_current) {
        const qsizetype at = source.slotOf(current);
        if (taken[std::size_t(at)]) {
            qsizetype to = at + 1;
            while (to < count && taken[std::size_t(to)])
                ++to;
            if (to == count) {
                to = at - 1;
                while (to >= 0 && taken[std::size_t(to)])
                    --to;
            }
            source.m_current = to >= 0 ? source.m_slots[to] : nullptr;
            source.m_currentDirty = true;
        }
    }

    std::vector<ListRow *> moved;
    moved.reserve(positions.size());
    auto kept = source.m_slots.begin();
    for (qsizetype slot = 0; slot < count; ++slot) {
        ListRow *const row = source.m_slots[slot];
        if (taken[std::size_t(slot)])
            moved.push_back(row);
        else
            *kept++ = row;
    }
    source.m_slots.erase(kept, source.m_slots.end());
    source.m_live = qsizetype(source.m_slots.size());
    source.m_firstHole = source.m_live;
    source.m_liveSlots.clear();

    for (ListRow *&row : moved) {
        if (row->selected) {
            source.unmark(row);
            source.m_selectionDirty = true;
        }
        if (source.m_pendingScroll == row) {
            release(source.m_pendingScroll);
            source.m_pendingScroll = nullptr;
        }
        ListRow *const left = row;
        left->owner = nullptr;
        if (left->refs > 1) {
            // A handle names it: it stays behind as a removed row, and a copy moves.
            left->removed = true;
            row = addCopy(*left);
            release(left);
        } else {
            insert(row);
        }
    }
    return moved;
}

// Takes a new row, texts and keys set, into its sorted place.
ListRow *ListModel::insert(ListRow *row)
{
    row->seq = m_nextSeq++;
    row->owner = this;

    if (m_bulk > 0) {
        bulkChange();
        // Appended; the order goes stale unless the row already sorts last (a sorted load).
        const bool inOrder = !m_dirty && m_firstHole == qsizetype(m_slots.size()) &&
                             (m_slots.empty() || before(m_slots.back(), row));
        m_dirty = !inOrder;
        if (m_firstHole == qsizetype(m_slots.size()))
            ++m_firstHole;
        m_liveSlots.clear();
        m_slots.push_back(row);
        ++m_live;
        if (!m_current) {
            m_current = row;
            m_currentDirty = true;
        }
        return row;
    }

    compact();
    const auto at =
        std::upper_bound(m_slots.begin(), m_slots.end(), row,
                         [this](const ListRow *a, const ListRow *b) { return before(a, b); });
    const int pos = int(at - m_slots.begin());
    const Syncing syncing(*this);
    beginInsertRows({}, pos, pos);
    m_slots.insert(at, row);
    ++m_live;
    m_firstHole = qsizetype(m_slots.size());
    endInsertRows();
    if (!m_current) {
        m_current = row;
        selection()->setCurrentIndex(index(pos, 0), QItemSelectionModel::NoUpdate);
    }
    return row;
}

void ListModel::remove(qsizetype pos)
{
    ensureOrdered();
    const qsizetype slot = slotAt(pos);
    ListRow *const row = m_slots[slot];

    // The current row's place goes to the row now after it, or else to the new last row.
    ListRow *successor = m_current;
    qsizetype successorPos = -1;
    if (row == m_current) {
        successor = nullptr;
        if (pos + 1 < m_live)
            successorPos = pos + 1;
        else if (pos > 0)
            successorPos = pos - 1;
        if (successorPos >= 0)
            successor = rowAt(successorPos);
    }

    const Syncing syncing(*this);
    if (m_bulk > 0) {
        bulkChange();
        if (successor != m_current)
            m_currentDirty = true;
    } else {
        // Moved before the removal, so that the view does not pick (and select) a row itself.
        if (successor != m_current)
            selection()->setCurrentIndex(successor ? index(int(successorPos), 0) : QModelIndex(),
                                         QItemSelectionModel::NoUpdate);
        beginRemoveRows({}, int(pos), int(pos));
    }
    m_current = successor;
    if (m_pendingScroll == row) {
        release(m_pendingScroll);
        m_pendingScroll = nullptr;
    }
    unmark(row);
    row->owner = nullptr;
    row->removed = true;
    --m_live;
    if (slot + 1 == qsizetype(m_slots.size()) && m_firstHole == qsizetype(m_slots.size())) {
        m_slots.pop_back();
        m_firstHole = qsizetype(m_slots.size());
        m_liveSlots.clear();
        release(row);
    } else {
        if (m_liveSlots.built())
            m_liveSlots.erase(slot);
        m_firstHole = std::min(m_firstHole, slot);
    }
    if (m_bulk == 0)
        endRemoveRows();

    // Tombstones outnumbering the rows are compacted away; the cost is paid by the removals.
    const qsizetype holes = qsizetype(m_slots.size()) - m_live;
    if (holes > 1024 && holes > m_live)
        compact();
}

void ListModel::clear()
{
    const Syncing syncing(*this);
    if (m_bulk > 0) {
        bulkChange();
        dropAllRows();
        m_currentDirty = m_selectionDirty = true;
        return;
    }
    beginResetModel();
    dropAllRows();
    endResetModel();
    selection()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
}

ListRow *ListModel::find(const QString &text)
{
    ensureOrdered();
    for (ListRow *row : m_slots) {
        if (!row->removed && row->text == text)
            return row;
    }
    return nullptr;
}

qsizetype ListModel::positionOf(const ListRow *row)
{
    ensureOrdered();
    return positionOfSlot(slotOf(row));
}

void ListModel::setColumnText(ListRow *row, int column, const QString &value)
{
    QString &target = column == 0 ? row->text : row->subItems[column - 1];
    if (target == value)
        return;
    const bool key = column == m_sortKey;

    if (m_bulk > 0) {
        bulkChange();
        target = value;
        refold(row, column);
        if (!key)
            return;
        // A changed key leaves the order exact only for a row that still sorts last.
        const bool last = !m_dirty && !m_slots.empty() && m_slots.back() == row;
        const qsizetype n = qsizetype(m_slots.size());
        if (!last || (n > 1 && !before(m_slots[n - 2], row)))
            m_dirty = true;
        return;
    }

    if (!key) {
        target = value;
        refold(row, column);
        const int pos = int(positionOf(row));
        Q_EMIT dataChanged(index(pos, column), index(pos, column), {Qt::DisplayRole});
        return;
    }

    compact();
    const qsizetype from = slotOf(row);
    target = value;
    refold(row, column);
    const auto less = [this](const ListRow *a, const ListRow *b) { return before(a, b); };
    const auto begin = m_slots.begin();
    qsizetype to = from;
    if (from > 0 && !before(m_slots[from - 1], row))
        to = std::upper_bound(begin, begin + from, row, less) - begin;
    else if (from + 1 < qsizetype(m_slots.size()) && !before(row, m_slots[from + 1]))
        to = std::lower_bound(begin + from + 1, m_slots.end(), row, less) - begin - 1;

    const Syncing syncing(*this);
    if (to != from) {
        beginMoveRows({}, int(from), int(from), {}, int(to > from ? to + 1 : to));
        if (to > from)
            std::rotate(begin + from, begin + from + 1, begin + to + 1);
        else
            std::rotate(begin + to, begin + from, begin + from + 1);
        endMoveRows();
    }
    Q_EMIT dataChanged(index(int(to), column), index(int(to), column), {Qt::DisplayRole});
}

void ListModel::mark(ListRow *row)
{
    if (row->selected)
        return;
    row->selected = true;
    row->selPrev = nullptr;
    row->selNext = m_selHead;
    if (m_selHead)
        m_selHead->selPrev = row;
    m_selHead = row;
    ++m_selectedCount;
}

void ListModel::unmark(ListRow *row)
{
    if (!row->selected)
        return;
    row->selected = false;
    if (row->selPrev)
        row->selPrev->selNext = row->selNext;
    else
        m_selHead = row->selNext;
    if (row->selNext)
        row->selNext->selPrev = row->selPrev;
    row->selPrev = row->selNext = nullptr;
    --m_selectedCount;
}

void ListModel::setSelected(ListRow *row, bool selected)
{
    const Syncing syncing(*this);
    if (!selected) {
        if (!row->selected)
            return;
        unmark(row);
        if (m_bulk > 0) {
            m_selectionDirty = true;
            return;
        }
        const int pos = int(positionOf(row));
        selection()->select(index(pos, 0),
                            QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        return;
    }

    const bool clearOthers = !multiSelect && m_selectedCount > (row->selected ? 1 : 0);
    const bool changes = clearOthers || !row->selected;
    if (clearOthers) {
        for (ListRow *other = m_selHead; other;) {
            ListRow *const next = other->selNext;
            if (other != row)
                unmark(other);
            other = next;
        }
    }
    mark(row);
    const bool newCurrent = m_current != row;
    m_current = row;

    if (m_bulk > 0) {
        m_selectionDirty = m_selectionDirty || changes;
        m_currentDirty = m_currentDirty || newCurrent;
        return;
    }
    const QModelIndex at = index(int(positionOf(row)), 0);
    if (changes)
        selection()->select(
            at, (clearOthers ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select) |
                    QItemSelectionModel::Rows);
    if (newCurrent || selection()->currentIndex() != at)
        selection()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
}

void ListModel::ensureVisible(ListRow *row)
{
    if (m_bulk > 0) {
        retain(row);
        release(m_pendingScroll);
        m_pendingScroll = row;
        return;
    }
    m_view->scrollTo(index(int(positionOf(row)), 0));
}

void ListModel::setSort(int key, int order)
{
    if (key == m_sortKey && order == m_sortOrder)
        return;
    m_sortKey = key;
    m_sortOrder = order;
    if (m_live == 0)
        return;
    if (m_bulk > 0) {
        bulkChange();
        m_dirty = true;
        return;
    }

    const Syncing syncing(*this);
    compact();
    // Already in the new order, the view has nothing to learn.
    if (!sortSlots([this] { beginResetModel(); }))
        return;
    endResetModel();
    syncSelection();
    syncCurrent();
}

void ListModel::endBulk()
{
    if (--m_bulk > 0)
        return;
    const Syncing syncing(*this);
    if (m_resetting) {
        ensureOrdered();
        compact();
        endResetModel();
        m_resetting = false;
        m_selectionDirty = m_currentDirty = true;
    }
    if (m_selectionDirty)
        syncSelection();
    if (m_currentDirty)
        syncCurrent();
    m_selectionDirty = m_currentDirty = false;
    if (ListRow *row = std::exchange(m_pendingScroll, nullptr)) {
        if (!row->removed)
            m_view->scrollTo(index(int(positionOf(row)), 0));
        release(row);
    }
}

// The selection model takes the marks in one go, as ranges of adjacent selected rows.
void ListModel::syncSelection()
{
    QItemSelection ranges;
    if (m_selectedCount > 0) {
        qsizetype pos = 0;
        qsizetype runStart = -1;
        const auto endRun = [&] {
            if (runStart >= 0)
                ranges.append(QItemSelectionRange(index(int(runStart), 0),
                                                  index(int(pos - 1), platform::columnCount - 1)));
            runStart = -1;
        };
        for (const ListRow *row : m_slots) {
            if (row->removed)
                continue;
            if (row->selected && runStart < 0)
                runStart = pos;
            else if (!row->selected)
                endRun();
            ++pos;
        }
        endRun();
    }
    // The view repaints whole rather than work out the region of every range it is told of,
    // which costs as much as the ranges are many.
    const bool updates = m_view->updatesEnabled();
    if (updates)
        m_view->setUpdatesEnabled(false);
    // Cleared first: Qt compares the old and the new selection range by range, which is quick
    // only when one of them is empty.
    if (selection()->hasSelection())
        selection()->clearSelection();
    if (!ranges.isEmpty())
        selection()->select(ranges, QItemSelectionModel::Select);
    if (updates)
        m_view->setUpdatesEnabled(true);
}

void ListModel::syncCurrent()
{
    const QModelIndex at = m_current ? index(int(positionOf(m_current)), 0) : QModelIndex();
    if (selection()->currentIndex() != at)
        selection()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
}

void ListModel::userSelectionChanged(const QItemSelection &selected,
                                     const QItemSelection &deselected)
{
    if (m_syncing || m_bulk > 0)
        return;
    for (const QItemSelectionRange &range : deselected) {
        for (int r = range.top(); r <= range.bottom() && r < m_live; ++r)
            unmark(rowAt(r));
    }
    for (const QItemSelectionRange &range : selected) {
        for (int r = range.top(); r <= range.bottom() && r < m_live; ++r)
            mark(rowAt(r));
    }
}

void ListModel::userCurrentChanged(const QModelIndex &current)
{
    if (m_syncing || m_bulk > 0)
        return;
    if (current.isValid() && current.row() < m_live)
        m_current = rowAt(current.row());
}

// ListItem

ListItem::ListItem(ListRow *row) : m_row(row)
{
    retain(m_row);
}
ListItem::ListItem(const ListItem &other) : m_row(other.m_row)
{
    retain(m_row);
}
ListItem::ListItem(ListItem &&other) noexcept : m_row(std::exchange(other.m_row, nullptr)) {}
ListItem &ListItem::operator=(const ListItem &other)
{
    retain(other.m_row);
    release(std::exchange(m_row, other.m_row));
    return *this;
}
ListItem &ListItem::operator=(ListItem &&other) noexcept
{
    if (this != &other)
        release(std::exchange(m_row, std::exchange(other.m_row, nullptr)));
    return *this;
}
ListItem::~ListItem()
{
    release(m_row);
}

ListRow &ListItem::row() const
{
    if (!m_row)
        throw std::logic_error("ListItem: no row");
    if (!m_row->owner)
        throw std::logic_error("ListItem: the row is no longer in its list");
    return *m_row;
}

QString ListItem::Text() const
{
    return row().text;
}

void ListItem::setText(const QString &text)
{
    ListRow &r = row();
    r.owner->setColumnText(&r, 0, text);
}

namespace {

void checkSubItem(int n)
{
    if (n != 1 && n != 2)
        throw std::out_of_range("SubItems: no sub-item with that index");
}

} // namespace

QString ListItem::SubItems(int n) const
{
    checkSubItem(n);
    return row().subItems[n - 1];
}

void ListItem::setSubItems(int n, const QString &value)
{
    checkSubItem(n);
    ListRow &r = row();
    r.owner->setColumnText(&r, n, value);
}

bool ListItem::Selected() const
{
    return row().selected;
}

void ListItem::setSelected(bool selected)
{
    ListRow &r = row();
    r.owner->setSelected(&r, selected);
}

void ListItem::EnsureVisible()
{
    ListRow &r = row();
    r.owner->ensureVisible(&r);
}

// ListView

ListView::ListView(QWidget *parent) : QTreeView(parent), m_model(std::make_unique<ListModel>(this))
{
    setModel(m_model.get());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    // The header only reports clicks; the control decides the order.
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setStretchLastSection(false);
    // The change code column is part of the model but never shown.
    header()->setSectionResizeMode(2, QHeaderView::Fixed);
    header()->resizeSection(2, 0);
    setColumnHidden(2, true);
    showSortIndicator(this);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(false);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                m_model->userSelectionChanged(selected, deselected);
            });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { m_model->userCurrentChanged(current); });
    connect(header(), &QHeaderView::sectionClicked, this, [this](int logical) {
        Q_EMIT ColumnClick(logical + 1);
        // The header flips its own indicator on a click; it shows the list's order instead.
        showSortIndicator(this);
    });
}

ListView::~ListView()
{
    // Handles may outlive the list; they then throw rather than reach a model that is gone.
    disconnect(selectionModel(), nullptr, this, nullptr);
    setModel(nullptr);
}

int ListView::Count() const
{
    return int(m_model->count());
}

ListItem ListView::Add(const QString &text)
{
    return ListItem(m_model->add(text));
}

ListItem ListView::AddCopy(const ListItem &row)
{
    return ListItem(m_model->addCopy(row.row()));
}

std::vector<ListItem> ListView::TakeRows(ListView *source, const std::vector<int> &positions)
{
    if (!source || source == this)
        throw std::invalid_argument("TakeRows: the rows must come from another list");
    const int count = source->Count();
    int previous = 0;
    for (const int position : positions) {
        if (position <= previous || position > count)
            throw std::out_of_range("TakeRows: positions must be ascending rows of the list");
        previous = position;
    }
    if (positions.empty())
        return {};
    const BulkUpdate sourceUpdate(source);
    const BulkUpdate targetUpdate(this);
    std::vector<ListItem> items;
    items.reserve(positions.size());
    for (ListRow *row : m_model->takeFrom(*source->m_model, positions))
        items.push_back(ListItem(row));
    return items;
}

void ListView::Remove(int position)
{
    m_model->remove(m_model->checkedPosition(position));
}

ListItem ListView::Item(int position)
{
    return ListItem(m_model->item(m_model->checkedPosition(position)));
}

void ListView::Clear()
{
    m_model->clear();
}

ListItem ListView::SelectedItem()
{
    return ListItem(m_model->current());
}

bool ListView::MultiSelect() const
{
    return m_model->multiSelect;
}

void ListView::setMultiSelect(bool on)
{
    m_model->multiSelect = on;
    setSelectionMode(on ? ExtendedSelection : SingleSelection);
}

ListItem ListView::FindItem(const QString &text)
{
    return ListItem(m_model->find(text));
}

int ListView::indexOf(const ListItem &item)
{
    if (!item.m_row || item.m_row->owner != m_model.get())
        return 0;
    return int(m_model->positionOf(item.m_row)) + 1;
}

int ListView::SortKey() const
{
    return m_model->sortKey();
}

void ListView::setSortKey(int key)
{
    if (key < 0 || key > 2)
        throw std::out_of_range("SortKey: no such column");
    m_model->setSort(key, m_model->sortOrder());
    showSortIndicator(this);
}

int ListView::SortOrder() const
{
    return m_model->sortOrder();
}

void ListView::setSortOrder(int order)
{
    if (order != 0 && order != 1)
        throw std::out_of_range("SortOrder: 0 or 1");
    m_model->setSort(m_model->sortKey(), order);
    showSortIndicator(this);
}

void ListView::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

void ListView::addColumnHeader(const QString &text, double widthTwips)
{
    m_model->m_headers.append(text);
    m_model->m_widths.append(widthTwips);
    const int section = int(m_model->m_headers.size()) - 1;
    if (section >= columnCount)
        return;
    Q_EMIT m_model->headerDataChanged(Qt::Horizontal, section, section);
    if (section != 2)
        header()->resizeSection(section, qRound(widthTwips / twipsPerPixel));
}

int ListView::columnHeaderCount() const
{
    return int(m_model->m_headers.size());
}
QString ListView::columnHeaderText(int index) const
{
    return m_model->m_headers.value(index - 1);
}
double ListView::columnHeaderWidth(int index) const
{
    return m_model->m_widths.value(index - 1);
}
int ListView::widthTwips() const
{
    return width() * int(twipsPerPixel);
}

ListView::BulkUpdate::BulkUpdate(ListView *view) : m_view(view)
{
    m_view->m_model->beginBulk();
}
ListView::BulkUpdate::~BulkUpdate()
{
    m_view->m_model->endBulk();
}

void ListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_model->leftPressed = true;
        m_model->doubleClicked = false;
    }
    QTreeView::mousePressEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);

    const QPoint pos = event->position().toPoint();
    bool click = false;
    if (event->button() == Qt::LeftButton) {
        click = m_model->leftPressed && !m_model->doubleClicked && viewport()->rect().contains(pos);
        m_model->leftPressed = m_model->doubleClicked = false;
    }

    int button = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        button = 1;
        break;
    case Qt::RightButton:
        button = 2;
        break;
    case Qt::MiddleButton:
        button = 4;
        break;
    default:
        break;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int shift = (modifiers & Qt::ShiftModifier ? 1 : 0) |
                      (modifiers & Qt::ControlModifier ? 2 : 0) |
                      (modifiers & Qt::AltModifier ? 4 : 0);
    if (button != 0)
        Q_EMIT MouseUp(button, shift, pos.x() * int(twipsPerPixel), pos.y() * int(twipsPerPixel));
    if (click)
        Q_EMIT Click();
}

void ListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The base may replay the event as a press (a double-click off the pressed row); the flag is
    // set after it so that the replay does not clear it.
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_model->doubleClicked = true;
        Q_EMIT DblClick();
    }
}

void ListView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int shift = (modifiers & Qt::ShiftModifier ? 1 : 0) |
                      (modifiers & Qt::ControlModifier ? 2 : 0) |
                      (modifiers & Qt::AltModifier ? 4 : 0);
    const int key = event->key();
    Q_EMIT KeyDown(key, shift);
    // The base would pass Enter on to the parents, where a dialog's default button waits.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete ||
        key == Qt::Key_Menu || (key == Qt::Key_F10 && (modifiers & Qt::ShiftModifier))) {
        event->accept();
        return;
    }
    const QModelIndex current = currentIndex();
    const QItemSelection selection = selectionModel()->selection();
    QTreeView::keyPressEvent(event);
    if (currentIndex() != current || selectionModel()->selection() != selection)
        Q_EMIT KeySelect();
}

void ListView::keyboardSearch(const QString &search)
{
    const int rows = m_model->rowCount();
    if (search.isEmpty() || rows == 0)
        return;
    const bool continues = m_model->typedAt.isValid() &&
                           !m_model->typedAt.hasExpired(QApplication::keyboardInputInterval());
    m_model->typed = continues ? m_model->typed + search : search;
    m_model->typedAt.start();

    // The same letter typed again steps on to the next row starting with it.
    QString prefix = m_model->typed;
    const bool repeated = prefix.size() > 1 && prefix.count(prefix.front()) == prefix.size();
    if (repeated)
        prefix.truncate(1);
    const int here = currentIndex().isValid() ? currentIndex().row() : -1;
    const int first = continues && !repeated && here >= 0 ? here : here + 1;
    for (int i = 0; i < rows; ++i) {
        const int r = (first + i) % rows;
        const QModelIndex id = m_model->index(r, 0);
        if (id.data().toString().startsWith(prefix, Qt::CaseInsensitive) ||
            m_model->index(r, 1).data().toString().startsWith(prefix, Qt::CaseInsensitive)) {
            setCurrentIndex(id);
            scrollTo(id);
            return;
        }
    }
}

bool ListView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_model->hover = indexAt(static_cast<QHoverEvent *>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        m_model->hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}

// QTreeView::drawRow for rows without children, indentation or spanning, the only rows this
// view has; anything else is left to it.
void ListView::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                       const QModelIndex &index) const
{
    if (rootIsDecorated() || treePosition() != 0 || isFirstColumnSpanned(index.row(), {})) {
        QTreeView::drawRow(painter, option, index);
        return;
    }
    const QHeaderView *header = this->header();
    const int row = index.row();
    const int y = option.rect.y();
    const int height = option.rect.height();
    const bool selected = m_model->rowMarked(row);
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    const bool rowFocus =
        allColumnsShowFocus() && focused && current.isValid() && current.row() == row;
    const QModelIndex hover = m_model->hover;
    const bool hoverRow =
        selectionBehavior() == SelectRows && hover.isValid() && hover.row() == row;
    const bool enabled = option.state & QStyle::State_Enabled;

    QList<int> sections;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            sections.append(logical);
    }

    QStyleOptionViewItem opt = option;
    // Whole rows are selected: the style is to fill the first column's decoration too.
    opt.showDecorationSelected = selectionBehavior() & SelectRows || option.showDecorationSelected;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const int section = sections[i];
        const QModelIndex cell = model()->index(row, section);
        if (!cell.isValid())
            continue;
        const int next = i + 1 < sections.size() ? sections[i + 1] : -1;
        const int previous = i > 0 ? sections[i - 1] : -1;
        if (header->count() == 1 || (next == 0 && previous == -1) || (section == 0 && next == -1))
            opt.viewItemPosition = QStyleOptionViewItem::OnlyOne;
        else if (section == 0 || (next != 0 && previous == -1))
            opt.viewItemPosition = QStyleOptionViewItem::Beginning;
        else if (next == 0 || next == -1)
            opt.viewItemPosition = QStyleOptionViewItem::End;
        else
            opt.viewItemPosition = QStyleOptionViewItem::Middle;

        opt.state = option.state;
        if (selected)
            opt.state |= QStyle::State_Selected;
        if (focused && !allColumnsShowFocus() && current == cell)
            opt.state |= QStyle::State_HasFocus;
        opt.state.setFlag(QStyle::State_MouseOver, hoverRow || cell == hover);
        if (enabled) {
            opt.palette.setCurrentColorGroup(opt.state & QStyle::State_Active ? QPalette::Active
                                                                              : QPalette::Inactive);
        }
        if (alternatingRowColors())
            opt.features.setFlag(QStyleOptionViewItem::Alternate, row & 1);

        const QStyle::State state = opt.state;
        opt.state &= ~QStyle::State_Selected;
        opt.rect.setRect(columnViewportPosition(section), y, header->sectionSize(section), height);
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &opt, painter, this);
        opt.state = state;
        itemDelegateForIndex(cell)->paint(painter, opt, cell);
    }

    if (rowFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.state |= QStyle::State_KeyboardFocusChange;
        const QPalette::ColorGroup group = enabled ? QPalette::Normal : QPalette::Disabled;
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
        const int x = option.showDecorationSelected ? 0 : header->sectionPosition(0);
        const QRect rect(x - header->offset(), y, header->length() - x, height);
        focus.rect = style()->visualRect(layoutDirection(), viewport()->rect(), rect);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter);
        if (!option.showDecorationSelected && header->sectionsMoved() &&
            header->visualIndex(0) != 0) {
            const QRect before(0, y, header->sectionPosition(0), height);
            focus.rect = style()->visualRect(layoutDirection(), viewport()->rect(), before);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter);
        }
    }
}

QString ListView::dragMimeType()
{
    return QStringLiteral("application/x-kavrivendoremp-rows");
}

QString ListView::dragSource(const QMimeData *data)
{
    if (!data || !data->hasFormat(dragMimeType()))
        return {};
    return QString::fromUtf8(data->data(dragMimeType()));
}

namespace {

// Whether `view` takes a drop of `data`: rows from another list, never its own.
bool takesDrop(const ListView *view, const QMimeData *data)
{
    const QString source = ListView::dragSource(data);
    return !source.isEmpty() && source != view->objectName();
}

void answerDrag(const ListView *view, QDropEvent *event)
{
    if (takesDrop(view, event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace

void ListView::dragEnterEvent(QDragEnterEvent *event)
{
    answerDrag(this, event);
}

void ListView::dragMoveEvent(QDragMoveEvent *event)
{
    answerDrag(this, event);
}

void ListView::dropEvent(QDropEvent *event)
{
    if (!takesDrop(this, event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    Q_EMIT DragDrop(dragSource(event->mimeData()));
}

} // namespace KavriVendorEmp::platform
