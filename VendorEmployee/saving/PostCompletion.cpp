#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::Inet1_StateChanged(int) {}

} // namespace KavriVendorEmp
