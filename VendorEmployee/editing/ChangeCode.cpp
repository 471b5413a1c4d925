#include "editing/ChangeCode.h"

namespace KavriVendorEmp::ChangeCode {

// Not built yet.
QString baseCode(const QString &id)
{
    return id;
}

bool isNumeric(const QString &)
{
    return true;
}

} // namespace KavriVendorEmp::ChangeCode
