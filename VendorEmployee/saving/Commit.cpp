#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::cmdCommit_Click() {}
void VendorEmployeePrivate::SaveToDatabase() {}

} // namespace KavriVendorEmp
