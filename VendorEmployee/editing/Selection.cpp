#include "control/VendorEmployee_p.h"

#include "control/SilentFailure.h"

#include <QPushButton>

namespace KavriVendorEmp {

namespace {

void disableMoveButtons(VendorEmployeePrivate *d)
{
    d->cmdAdd->setEnabled(false);
    d->cmdAddAll->setEnabled(false);
    d->cmdDelete->setEnabled(false);
    d->cmdRemoveAll->setEnabled(false);
}

void clearSelection(ListView *list)
{
    const ListView::BulkUpdate update(list);
    const int count = list->Count();
    for (int i = 1; i <= count; ++i) {
        ListItem item = list->Item(i);
        if (item.Selected())
            item.setSelected(false);
    }
}

// One selected row (or none) is a job for the single-row button, two or more for the move-all
// button. The walk stops at the second selected row.
void enableForSelection(ListView *clicked, QPushButton *singleRow, QPushButton *moveAll)
{
    int selected = 0;
    const int count = clicked->Count();
    for (int i = 1; i <= count; ++i) {
        if (clicked->Item(i).Selected() && ++selected > 1) {
            moveAll->setEnabled(true);
            singleRow->setEnabled(false);
            return;
        }
    }
    moveAll->setEnabled(false);
    singleRow->setEnabled(true);
}

// The ID column sorts by the change code, whose zero padding gives the numeric order of IDs;
// clicking the column the list is already keyed on reverses the order instead.
void sortByHeader(ListView *list, int index)
{
    const int k = index == 1 ? 3 : index;
    const int key = k - 1;
    if (list->SortKey() == key)
        list->setSortOrder(list->SortOrder() == 0 ? 1 : 0);
    else
        list->setSortKey(key);
}

} // namespace

void VendorEmployeePrivate::lstEmployees_Click()
{
    if (lstEmployees->Count() == 0) {
        disableMoveButtons(this);
        return;
    }
    cmdDelete->setEnabled(false);
    cmdRemoveAll->setEnabled(false);
    lstEmployees->setMultiSelect(true);
    lstSelectedEmployees->setMultiSelect(false);
    clearSelection(lstSelectedEmployees);
    enableForSelection(lstEmployees, cmdAdd, cmdAddAll);
}

void VendorEmployeePrivate::lstSelectedEmployees_Click()
{
    try {
        if (lstSelectedEmployees->Count() == 0) {
            disableMoveButtons(this);
            return;
        }
        lstSelectedEmployees->setMultiSelect(true);
        lstEmployees->setMultiSelect(false);
        clearSelection(lstEmployees);
        cmdAdd->setEnabled(false);
        cmdAddAll->setEnabled(false);
        enableForSelection(lstSelectedEmployees, cmdDelete, cmdRemoveAll);
    } catch (...) {
        traceSilentFailure("lstSelectedEmployees_Click");
    }
}

void VendorEmployeePrivate::lstEmployees_ColumnClick(int index)
{
    try {
        sortByHeader(lstEmployees, index);
    } catch (...) {
        traceSilentFailure("lstEmployees_ColumnClick");
    }
}

void VendorEmployeePrivate::lstSelectedEmployees_ColumnClick(int index)
{
    try {
        sortByHeader(lstSelectedEmployees, index);
    } catch (...) {
        traceSilentFailure("lstSelectedEmployees_ColumnClick");
    }
}

} // namespace KavriVendorEmp
