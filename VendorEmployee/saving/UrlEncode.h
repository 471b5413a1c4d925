#pragma once

#include <QString>

namespace KavriVendorEmp {

/// Form-encodes one value: letters, digits and * - . _ pass through, a space becomes "+", every
/// other byte of the text's UTF-8 form becomes "%" and two upper-case hex digits.
QString formUrlEncode(const QString &theData);

} // namespace KavriVendorEmp
