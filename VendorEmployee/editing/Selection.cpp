#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::lstEmployees_Click() {}
void VendorEmployeePrivate::lstSelectedEmployees_Click() {}
void VendorEmployeePrivate::lstEmployees_ColumnClick(int) {}
void VendorEmployeePrivate::lstSelectedEmployees_ColumnClick(int) {}

} // namespace KavriVendorEmp
