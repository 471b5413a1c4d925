#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::ReadEmployeeCounts() {}
void VendorEmployeePrivate::LoadNonSelectedEmployees() {}
void VendorEmployeePrivate::LoadSelectedEmployees() {}

} // namespace KavriVendorEmp
