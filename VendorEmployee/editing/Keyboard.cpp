#include "control/VendorEmployee_p.h"

#include "control/SilentFailure.h"

#include <QMenu>
#include <QPushButton>

namespace KavriVendorEmp {

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool isMenuKey(int key, int shift)
{
    return key == Qt::Key_Menu || (key == Qt::Key_F10 && (shift & 1));
}

} // namespace

// A key acts only while the button it stands for is enabled: a keyboard user hears the button
// states, not the current row the list happens to hold.
void VendorEmployeePrivate::lstEmployees_KeyDown(int key, int)
{
    if (isEnter(key) && cmdAdd->isEnabled())
        lstEmployees_DblClick();
}

void VendorEmployeePrivate::lstSelectedEmployees_KeyDown(int key, int shift)
{
    if ((isEnter(key) || key == Qt::Key_Delete) && cmdDelete->isEnabled())
        cmdDelete_Click();
    else if (isMenuKey(key, shift))
        showRemoveMenuAtCurrentRow();
}

void VendorEmployeePrivate::txtFind_ReturnPressed()
{
    if (cmdFind->isEnabled())
        cmdFind_Click();
}

// Opens the menu where a right click on the current row would: the list holds rows and its
// current row has an ID and is selected, as a right press leaves the row it lands on. Opened by
// a key, "Remove" starts active, so that the first Return chooses it.
void VendorEmployeePrivate::showRemoveMenuAtCurrentRow()
{
    try {
        ListView *const list = lstSelectedEmployees;
        if (list->Count() == 0)
            return;
        ListItem current = list->SelectedItem();
        if (!current || current.Text().isEmpty() || !current.Selected())
            return;
        current.EnsureVisible();
        const QRect row = list->visualRect(list->model()->index(list->indexOf(current) - 1, 0));
        mnuRemove->setActiveAction(mnuRemoveItems);
        mnuRemove->exec(list->viewport()->mapToGlobal(row.bottomLeft()));
    } catch (...) {
        traceSilentFailure("showRemoveMenuAtCurrentRow");
    }
}

} // namespace KavriVendorEmp
