#include "control/VendorEmployee_p.h"

#include "control/SilentFailure.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

namespace KavriVendorEmp {

namespace {

// Row positions and counts are 16-bit in the handlers; a list never grows past this.
constexpr int maxRows = 32767;

// Every check a single-row move needs, made before it changes anything, so that a move either
// goes through completely or leaves both lists as they were.
bool movable(ListView *source, ListView *target, int sourcePosition)
{
    return sourcePosition >= 1 && source->Count() <= maxRows && target->Count() < maxRows;
}

// The moved row becomes the target's only selected row, focused and scrolled into view. When the
// target already held the ID, the first row with it is the one found.
void selectMovedRow(ListView *target, const QString &id)
{
    if (ListItem found = target->FindItem(id)) {
        found.setSelected(true);
        target->SetFocus();
        target->SelectedItem().EnsureVisible();
    }
}

} // namespace

void VendorEmployeePrivate::cmdAdd_Click()
{
    try {
        ListView *const source = lstEmployees;
        ListView *const target = lstSelectedEmployees;
        if (source->Count() == 0)
            return;
        const ListItem current = source->SelectedItem();
        if (!current)
            return;
        const QString id = current.Text();
        if (id.isEmpty())
            return;
        // A row with the same ID on the right would link the employee twice.
        if (target->FindItem(id))
            return;
        const QString name = current.SubItems(1);
        const QString code = current.SubItems(2);
        // Only the copied row leaves: other selected rows keep their place and pending changes.
        const int position = source->indexOf(current);
        if (!movable(source, target, position))
            return;

        source->Remove(position);
        target->setMultiSelect(false);
        const ListItem moved = CopyEmployeeRow(id, name, code, target);
        MovedRows carried;
        carried.add(id, name, code, moved.SubItems(2));
        recordMove(source, target, false, std::move(carried));
        RefreshCountLabels();
        selectMovedRow(target, id);
        cmdAdd->setEnabled(false);
        cmdDelete->setEnabled(true);
        cmdCommit->setEnabled(true);
        optList[1]->setChecked(true);
        if (source->Count() == 0)
            optList[0]->setEnabled(false);
        optList[1]->setEnabled(target->Count() > 0);
    } catch (...) {
        traceSilentFailure("cmdAdd_Click");
    }
}

void VendorEmployeePrivate::cmdDelete_Click()
{
    try {
        ListView *const source = lstSelectedEmployees;
        ListView *const target = lstEmployees;
        if (source->Count() == 0)
            return;
        const ListItem current = source->SelectedItem();
        if (!current)
            return;
        const QString id = current.Text();
        const QString name = current.SubItems(1);
        const QString code = current.SubItems(2);
        if (id.isEmpty())
            return;
        const int position = source->indexOf(current);
        if (!movable(source, target, position))
            return;

        target->setMultiSelect(false);
        // No duplicate check on this side: unlinking never creates a second link.
        const ListItem moved = CopyEmployeeRow(id, name, code, target);
        source->Remove(position);
        MovedRows carried;
        carried.add(id, name, code, moved.SubItems(2));
        recordMove(source, target, false, std::move(carried));
        RefreshCountLabels();
        selectMovedRow(target, id);
        cmdDelete->setEnabled(false);
        cmdAdd->setEnabled(true);
        cmdCommit->setEnabled(true);
        if (source->Count() == 0)
            optList[1]->setEnabled(false);
        optList[0]->setChecked(true);
        optList[0]->setEnabled(target->Count() > 0);
    } catch (...) {
        traceSilentFailure("cmdDelete_Click");
    }
}

void VendorEmployeePrivate::lstEmployees_DblClick()
{
    cmdAdd_Click();
}

void VendorEmployeePrivate::lstSelectedEmployees_DblClick()
{
    cmdDelete_Click();
}

void VendorEmployeePrivate::lstSelectedEmployees_MouseUp(int button, int, int, int)
{
    try {
        if (lstSelectedEmployees->Count() == 0)
            return;
        const ListItem current = lstSelectedEmployees->SelectedItem();
        if (!current || current.Text().isEmpty())
            return;
        if (button == 2)
            mnuRemove->exec(QCursor::pos());
    } catch (...) {
        traceSilentFailure("lstSelectedEmployees_MouseUp");
    }
}

void VendorEmployeePrivate::mnuRemoveItems_Click()
{
    cmdDelete_Click();
}

} // namespace KavriVendorEmp
