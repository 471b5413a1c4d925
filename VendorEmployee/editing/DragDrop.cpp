#include "control/VendorEmployee_p.h"

#include <QItemSelectionModel>

namespace KavriVendorEmp {

namespace {

// A drag starts only from selected rows; a drop that names a list with none moves nothing, so
// it leaves the buttons and options as they were rather than run an empty move.
bool hasSelectedRows(ListView *list)
{
    return list->selectionModel()->hasSelection();
}

} // namespace

void VendorEmployeePrivate::lstEmployees_DragDrop(const QString &source)
{
    if (source == lstSelectedEmployees->objectName() && hasSelectedRows(lstSelectedEmployees))
        cmdRemoveAll_Click();
}

void VendorEmployeePrivate::lstSelectedEmployees_DragDrop(const QString &source)
{
    if (source == lstEmployees->objectName() && hasSelectedRows(lstEmployees))
        cmdAddAll_Click();
}

} // namespace KavriVendorEmp
