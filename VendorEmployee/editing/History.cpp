#include "control/VendorEmployee_p.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMultiHash>
#include <QScopeGuard>
#include <QUndoStack>

#include <utility>

namespace KavriVendorEmp {

namespace {

using MovedRows = VendorEmployeePrivate::MovedRows;

// More than a day's work; each move keeps only the IDs and names of its rows, shared with them.
constexpr int historyLimit = 1000;

bool sameRow(ListItem &item, const MovedRows &moved, std::size_t k, bool before)
{
    const MovedRows::Row &row = moved.rows[k];
    return item.Text() == row.id && moved.hasCode(k, item.SubItems(2), before) &&
           item.SubItems(1) == row.name;
}

// Marks exactly the rows of `list` that `moved` names (by ID, name and the code before the move
// or after it), as clicks on them would, the last one becoming the current row. Other marks of the
// list are cleared. False when one of the rows is not in the list.
bool selectExactly(ListView *list, const MovedRows &moved, bool before)
{
    list->setMultiSelect(true);
    const int count = list->Count();
    // The rows as a rule still stand in the order they were moved in: one walk finds them.
    std::size_t next = 0;
    for (int i = 1; i <= count; ++i) {
        ListItem item = list->Item(i);
        if (next < moved.rows.size() && sameRow(item, moved, next, before)) {
            item.setSelected(true);
            ++next;
        } else if (item.Selected()) {
            item.setSelected(false);
        }
    }
    if (next == moved.rows.size())
        return true;

    // Re-sorted since: found by ID.
    QMultiHash<QString, std::size_t> wanted;
    wanted.reserve(qsizetype(moved.rows.size()));
    for (std::size_t k = 0; k < moved.rows.size(); ++k)
        wanted.insert(moved.rows[k].id, k);
    for (int i = 1; i <= count; ++i) {
        ListItem item = list->Item(i);
        bool match = false;
        for (auto it = wanted.find(item.Text()); it != wanted.end() && it.key() == item.Text();
             ++it) {
            if (sameRow(item, moved, *it, before)) {
                wanted.erase(it);
                match = true;
                break;
            }
        }
        if (match)
            item.setSelected(true);
        else if (item.Selected())
            item.setSelected(false);
    }
    return wanted.isEmpty();
}

// One move as it went: undone by the reverse move of its rows, redone by the same move again.
// Either is the move handler itself, run on exactly those rows, so that labels, buttons,
// options, selection and focus end as that move leaves them.
class MoveCommand final : public QUndoCommand
{
public:
    MoveCommand(VendorEmployeePrivate *d, bool fromLeft, bool allSelected, MovedRows moved)
        : m_d(d), m_fromLeft(fromLeft), m_allSelected(allSelected), m_moved(std::move(moved))
    {
        setText(m_fromLeft ? QStringLiteral("link") : QStringLiteral("unlink"));
    }

    void undo() override { replay(!m_fromLeft, false); }
    void redo() override
    {
        // Pushed once the move has happened.
        if (std::exchange(m_pushed, false))
            return;
        replay(m_fromLeft, true);
    }

private:
    void replay(bool fromLeft, bool codesBefore)
    {
        VendorEmployeePrivate *const d = m_d;
        ListView *const source = fromLeft ? d->lstEmployees : d->lstSelectedEmployees;
        const int before = source->Count();
        d->m_replaying = true;
        const auto replayed = qScopeGuard([d] { d->m_replaying = false; });
        bool found = false;
        {
            // The marks reach the view once, with the rows gone.
            const ListView::BulkUpdate bulk(source);
            found = selectExactly(source, m_moved, codesBefore);
            if (found && fromLeft)
                m_allSelected ? d->cmdAddAll_Click() : d->cmdAdd_Click();
            else if (found)
                m_allSelected ? d->cmdRemoveAll_Click() : d->cmdDelete_Click();
        }
        // Only a load changes rows outside the history, and a load clears it; should the rows
        // not be there all the same, this step leaves the history rather than replay a guess.
        if (!found || source->Count() != before - qsizetype(m_moved.rows.size()))
            setObsolete(true);
    }

    VendorEmployeePrivate *const m_d;
    const bool m_fromLeft;
    const bool m_allSelected;
    const MovedRows m_moved;
    bool m_pushed = true;
};

// Ctrl+Z and the redo keys in a find box belong to the box, locked or not.
class BoxKeepsEditKeys final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
                key->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_Y))
                event->accept();
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void VendorEmployeePrivate::setUpHistory()
{
    m_history = new QUndoStack(q);
    m_history->setUndoLimit(historyLimit);

    const auto addKeys = [this](QList<QKeySequence> keys, bool (QUndoStack::*can)() const,
                                void (QUndoStack::*step)(), void (QUndoStack::*changed)(bool)) {
        auto *action = new QAction(q);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        action->setEnabled((m_history->*can)());
        QObject::connect(m_history, changed, action, &QAction::setEnabled);
        QObject::connect(action, &QAction::triggered, q, [this, step] {
            try {
                (m_history->*step)();
            } catch (...) {
            }
            settlePendingChanges();
        });
        q->addAction(action);
    };
    addKeys(QKeySequence::keyBindings(QKeySequence::Undo), &QUndoStack::canUndo, &QUndoStack::undo,
            &QUndoStack::canUndoChanged);
    QList<QKeySequence> redo = QKeySequence::keyBindings(QKeySequence::Redo);
    const QKeySequence ctrlY(Qt::ControlModifier | Qt::Key_Y);
    if (!redo.contains(ctrlY))
        redo.append(ctrlY);
    addKeys(redo, &QUndoStack::canRedo, &QUndoStack::redo, &QUndoStack::canRedoChanged);

    auto *boxKeys = new BoxKeepsEditKeys(q);
    txtVendorID->installEventFilter(boxKeys);
    txtVendorName->installEventFilter(boxKeys);
}

void VendorEmployeePrivate::recordMove(ListView *source, ListView *target, bool allSelected,
                                       MovedRows moved)
{
    if (moved.rows.empty())
        return;
    countMove(target, moved);
    if (m_replaying)
        return;
    m_history->push(new MoveCommand(this, source == lstEmployees, allSelected, std::move(moved)));
}

void VendorEmployeePrivate::forgetEdits()
{
    m_history->clear();
    m_pendingLinks = 0;
    m_pendingUnlinks = 0;
}

} // namespace KavriVendorEmp
