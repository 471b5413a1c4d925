#pragma once

#include <QString>

namespace KavriVendorEmp::ChangeCode {

// An employee row's change code: the base code of its ID, with "N" appended while the row waits
// to be linked and "D" while it waits to be unlinked. A code that reads as a number marks an
// unchanged row.

/// The ID's numeric value written with at least six digits, zero-padded on the left: "42" and
/// "000042" give "000042", "-5" gives "-000005", seven or more digits stay as they are.
/// An ID that is not a decimal number (an optional leading minus, then digits) gives "000000",
/// so that a loaded row still reads as unchanged.
QString baseCode(const QString &id);
/// What follows the base code of `id` in `code`: 0 when `code` is the base code alone, the one
/// code unit after it when that unit makes the code non-numeric (a pending row's letter), and
/// `otherForm` for any other code. So a code is its ID's base code followed by its suffix,
/// wherever the suffix is not `otherForm`.
char16_t suffixOf(QStringView code, QStringView id);
inline constexpr char16_t otherForm = 0xffff;
/// True when the whole code reads as a number (an unchanged row): an optional leading minus,
/// then one or more digits.
bool isNumeric(const QString &code);

} // namespace KavriVendorEmp::ChangeCode

namespace KavriVendorEmp::CountLabels {

/// "Selected Employees (n):"
QString selected(int n);
/// "Non Selected Active Employees (n):"
QString nonSelected(int n);

} // namespace KavriVendorEmp::CountLabels
