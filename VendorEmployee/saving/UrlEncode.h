#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace KavriVendorEmp {

/// Form-encodes one value: letters, digits and * - . _ pass through, a space becomes "+", every
/// other byte of the text's UTF-8 form becomes "%" and two upper-case hex digits.
QString formUrlEncode(const QString &theData);

/// The same encoding, appended to out (the save body is built this way, without a copy per field).
void appendFormUrlEncoded(QByteArray &out, QStringView theData);

} // namespace KavriVendorEmp
