#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::cmdAddAll_Click() {}
void VendorEmployeePrivate::cmdRemoveAll_Click() {}

} // namespace KavriVendorEmp
