#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace KavriVendorEmp::Statements {

// The statement texts a save posts, one per "SQL=" field.

/// INSERT of one link, with its trailing blank.
QString insertLink(std::int32_t vendorID, const QString &employeeID);
/// DELETE of every link in employeeIDs (at least one) for one vendor.
QString deleteLinks(std::int32_t vendorID, const QStringList &employeeIDs);
/// The post body: "SQL=" + encoded statement + "&" for each statement, in order.
QString postBody(const QStringList &statements);

} // namespace KavriVendorEmp::Statements
