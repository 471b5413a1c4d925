#include "saving/Statements.h"

namespace KavriVendorEmp::Statements {

// Not built yet.
QString insertLink(std::int32_t, const QString &)
{
    return QString();
}

QString deleteLinks(std::int32_t, const QStringList &)
{
    return QString();
}

QString postBody(const QStringList &)
{
    return QString();
}

} // namespace KavriVendorEmp::Statements
