#include "control/VendorEmployee_p.h"

namespace KavriVendorEmp {

// Not built yet: the load arrives with the loading work.
void VendorEmployeePrivate::LoadEmployees(std::int32_t, const QString &) {}

} // namespace KavriVendorEmp
