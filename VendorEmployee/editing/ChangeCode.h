#pragma once

#include <QString>

namespace KavriVendorEmp::ChangeCode {

// An employee row's change code: the base code of its ID, with "N" appended while the row waits
// to be linked and "D" while it waits to be unlinked. A code that reads as a number marks an
// unchanged row.

/// The ID's numeric value written with at least six digits, zero-padded on the left.
QString baseCode(const QString &id);
/// True when the whole code reads as a number (an unchanged row).
bool isNumeric(const QString &code);

} // namespace KavriVendorEmp::ChangeCode
