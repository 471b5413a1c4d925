#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::cmdAdd_Click() {}
void VendorEmployeePrivate::cmdDelete_Click() {}
void VendorEmployeePrivate::lstEmployees_DblClick() {}
void VendorEmployeePrivate::lstSelectedEmployees_DblClick() {}
void VendorEmployeePrivate::lstSelectedEmployees_MouseUp(int, int, int, int) {}
void VendorEmployeePrivate::mnuRemoveItems_Click() {}

} // namespace KavriVendorEmp
