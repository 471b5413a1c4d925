#include "control/VendorEmployee_p.h"

#include <QPushButton>
#include <QRadioButton>

#include <vector>

namespace KavriVendorEmp {

namespace {

// Row positions and counts are 16-bit in the handlers; a list never grows past this.
constexpr int maxRows = 32767;

struct Direction
{
    ListView *source;
    ListView *target;
    QPushButton *ownButton;
    QPushButton *oppositeButton;
    QRadioButton *sourceOption;
    QRadioButton *targetOption;
};

void moveAllSelected(VendorEmployeePrivate *d, const Direction &dir)
{
    ListView *const source = dir.source;
    ListView *const target = dir.target;
    const int count = source->Count();
    if (count == 0)
        return;

    // Everything that could refuse the move is settled before the first change, so that no row
    // ends up in both lists or in neither.
    if (count > maxRows)
        return;
    const std::vector<int> positions = source->selectedPositions();
    if (target->Count() + qsizetype(positions.size()) > maxRows)
        return;

    VendorEmployeePrivate::MovedRows moved;
    moved.rows.reserve(positions.size());
    {
        const ListView::BulkUpdate sourceUpdate(source);
        const ListView::BulkUpdate targetUpdate(target);
        // The first row is selected while the target allows one selection only, which clears
        // what was selected there before; every later row adds to the selection.
        target->setMultiSelect(false);
        for (ListItem &row : target->TakeRows(source, positions)) {
            d->RecodeMovedRow(row, target, moved);
            row.setSelected(true);
            target->setMultiSelect(true);
        }
    }
    d->recordMove(source, target, true, std::move(moved));

    target->SetFocus();
    if (ListItem current = target->SelectedItem())
        current.EnsureVisible();
    target->setSortKey(2);
    d->RefreshCountLabels();
    dir.ownButton->setEnabled(false);
    dir.oppositeButton->setEnabled(true);
    d->cmdCommit->setEnabled(true);
    dir.targetOption->setChecked(true);
    if (source->Count() == 0) {
        dir.sourceOption->setEnabled(false);
        dir.targetOption->setEnabled(true);
    }
}

} // namespace

void VendorEmployeePrivate::cmdAddAll_Click()
{
    moveAllSelected(this, {lstEmployees, lstSelectedEmployees, cmdAddAll, cmdRemoveAll, optList[0],
                           optList[1]});
}

void VendorEmployeePrivate::cmdRemoveAll_Click()
{
    moveAllSelected(this, {lstSelectedEmployees, lstEmployees, cmdRemoveAll, cmdAddAll, optList[1],
                           optList[0]});
}

} // namespace KavriVendorEmp
