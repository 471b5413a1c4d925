#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet.
void VendorEmployeePrivate::cmdFind_Click() {}
void VendorEmployeePrivate::optFind_Click(int) {}
void VendorEmployeePrivate::txtVendorID_Change() {}
void VendorEmployeePrivate::txtVendorName_Change() {}

} // namespace KavriVendorEmp
