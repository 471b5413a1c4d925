#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
ListItem VendorEmployeePrivate::CopyEmployeeRow(const QString &, const QString &, const QString &,
                                                ListView *)
{
    return {};
}

void VendorEmployeePrivate::RefreshCountLabels() {}

void VendorEmployeePrivate::FinishMove(ListView *, ListView *) {}

} // namespace KavriVendorEmp
