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

void VendorEmployeePrivate::lstEmployees_KeyDown(int key, int)
{
    if (isEnter(key))
        lstEmployees_DblClick();
}

void VendorEmployeePrivate::lstSelectedEmployees_KeyDown(int key, int shift)
{
    if (isEnter(key))
        lstSelectedEmployees_DblClick();
    else if (key == Qt::Key_Delete)
        mnuRemoveItems_Click();
    else if (isMenuKey(key, shift))
        showRemoveMenuAtCurrentRow();
}

void VendorEmployeePrivate::txtFind_ReturnPressed()
{
    if (cmdFind->isEnabled())
        cmdFind_Click();
}

// The checks a right-button release makes before it opens the menu.
void VendorEmployeePrivate::showRemoveMenuAtCurrentRow()
{
    try {
        ListView *const list = lstSelectedEmployees;
        if (list->Count() == 0)
            return;
        ListItem current = list->SelectedItem();
        if (!current || current.Text().isEmpty())
            return;
        current.EnsureVisible();
        const QRect row = list->visualRect(list->model()->index(list->indexOf(current) - 1, 0));
        mnuRemove->exec(list->viewport()->mapToGlobal(row.bottomLeft()));
    } catch (...) {
        traceSilentFailure("showRemoveMenuAtCurrentRow");
    }
}

} // namespace KavriVendorEmp
