#include "control/VendorEmployee_p.h"

#include <QItemSelectionModel>
#include <QPushButton>

namespace KavriVendorEmp {

namespace {

// A drop is that direction's move-all, so it acts only while its button is enabled. A drag
// starts only from selected rows; a drop that names a list with none moves nothing, so it leaves
// the buttons and options as they were rather than run an empty move.
bool dropMoves(ListView *source, const QPushButton *moveAll)
{
    return moveAll->isEnabled() && source->selectionModel()->hasSelection();
}

} // namespace

void VendorEmployeePrivate::lstEmployees_DragDrop(const QString &source)
{
    if (source == lstSelectedEmployees->objectName() &&
        dropMoves(lstSelectedEmployees, cmdRemoveAll))
        cmdRemoveAll_Click();
}

void VendorEmployeePrivate::lstSelectedEmployees_DragDrop(const QString &source)
{
    if (source == lstEmployees->objectName() && dropMoves(lstEmployees, cmdAddAll))
        cmdAddAll_Click();
}

} // namespace KavriVendorEmp
