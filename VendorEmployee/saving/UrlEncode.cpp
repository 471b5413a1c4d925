#include "saving/UrlEncode.h"

namespace KavriVendorEmp {

// Not built yet.
QString formUrlEncode(const QString &)
{
    return QString();
}

} // namespace KavriVendorEmp
