#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>

namespace KavriVendorEmp::Statements {

// The statement texts a save posts, one per "SQL=" field. Employee IDs are written into them
// unquoted, so only plain decimal integers are accepted: anything else could change the statement.

/// An optional minus sign followed by one or more ASCII digits, and nothing else.
bool isPlainInteger(QStringView text);

/// INSERT of one link, with its trailing blank.
/// @throws std::invalid_argument when employeeID is not a plain integer
QString insertLink(std::int32_t vendorID, const QString &employeeID);
/// DELETE of every link in employeeIDs for one vendor, as one "IN(" list.
/// @throws std::invalid_argument when the list is empty or an ID is not a plain integer
QString deleteLinks(std::int32_t vendorID, const QStringList &employeeIDs);
/// The post body: "SQL=" + form-encoded statement + "&" for each statement, in order.
QByteArray postBody(const QStringList &statements);

} // namespace KavriVendorEmp::Statements
