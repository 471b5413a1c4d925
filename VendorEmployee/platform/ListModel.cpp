#include "platform/ListModel.h"

#include <utility>

namespace KavriVendorEmp::platform {

QVariant ListModel::noteOf(const QModelIndex &index) const
{
    if (!m_rowNote || !index.isValid() || index.row() >= m_live)
        return {};
    const QString note = m_rowNote(ListItem(rowAt(index.row())));
    return note.isEmpty() ? QVariant() : QVariant(note);
}

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
    m_unsortedLast = nullptr;
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
    // The storage goes too: tens of thousands of slots are no use to an empty list.
    std::vector<ListRow *>().swap(m_slots);
    m_unsortedLast = nullptr;
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
    return insert(row);
}

ListRow *ListModel::addCopy(const ListRow &from)
{
    auto *row = new ListRow;
    row->text = from.text;
    for (int n = 0; n < ListView::ColumnCount - 1; ++n)
        row->subItems[n] = from.subItems[n];
    row->key = from.key;
    row->keyColumn = from.keyColumn;
    if (from.fold)
        row->fold = std::make_unique<QString>(*from.fold);
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
    keyTo(row, m_sortKey);

    if (m_bulk > 0) {
        bulkChange();
        // Appended; the order goes stale unless the row already sorts last (a sorted load). A row
        // added before the text of its sort column (a load adds the ID, then the change code)
        // may still find it sorts last once that text is set: see setColumnText.
        const bool ordered = !m_dirty && m_firstHole == qsizetype(m_slots.size());
        const bool inOrder = ordered && (m_slots.empty() || before(m_slots.back(), row));
        m_dirty = !inOrder;
        m_unsortedLast = ordered && !inOrder ? row : nullptr;
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

std::vector<int> ListModel::selectedPositions()
{
    ensureOrdered();
    std::vector<int> positions;
    positions.reserve(std::size_t(m_selectedCount));
    int position = 0;
    for (const ListRow *row : m_slots) {
        if (row->removed)
            continue;
        ++position;
        if (row->selected)
            positions.push_back(position);
    }
    return positions;
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
        if (key) {
            refold(row);
            keyChangedInBulk(row);
        }
        return;
    }

    if (!key) {
        target = value;
        const int pos = int(positionOf(row));
        Q_EMIT dataChanged(index(pos, column), index(pos, column), {Qt::DisplayRole});
        return;
    }

    compact();
    const qsizetype from = slotOf(row);
    target = value;
    refold(row);
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

// A changed key leaves the order exact only for a last row that still sorts last; the one row
// out of order behind rows in order is then in order too.
void ListModel::keyChangedInBulk(ListRow *row)
{
    const qsizetype n = qsizetype(m_slots.size());
    const bool last = (!m_dirty || m_unsortedLast == row) && n > 0 && m_slots.back() == row;
    m_dirty = !last || (n > 1 && !before(m_slots[n - 2], row));
    m_unsortedLast = m_dirty && last ? row : nullptr;
}

void ListModel::changeColumnEnd(ListRow *row, int column, QChar unit, bool append)
{
    QString &target = column == 0 ? row->text : row->subItems[column - 1];
    if (!append && target.isEmpty())
        return;
    if (m_bulk == 0) {
        setColumnText(row, column, append ? target + unit : target.chopped(1));
        return;
    }
    bulkChange();
    const qsizetype size = target.size();
    if (append)
        target.append(unit);
    else
        target.chop(1);
    // After a change of sort column within the bulk update the row may still hold another
    // column's key: the sort at its end makes the new one.
    ColumnKey &key = row->key;
    if (column == row->keyColumn &&
        !(append ? appendToKey(key, size, unit.unicode()) : chopKey(key, size)))
        refold(row);
    if (column == m_sortKey)
        keyChangedInBulk(row);
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
        m_unsortedLast = nullptr;
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
                                                  index(int(pos - 1), ListView::ColumnCount - 1)));
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

} // namespace KavriVendorEmp::platform
