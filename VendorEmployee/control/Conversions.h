#pragma once

#include <QString>

#include <cstdint>

namespace KavriVendorEmp {

// The standard text-to-integer conversion: decimal digits with an optional sign, blanks allowed
// around them. A text that is not such a number throws std::invalid_argument; one beyond the
// target range throws std::out_of_range.
std::int32_t textToInt32(const QString &text);
std::int16_t textToInt16(const QString &text);

// Narrowing to the 16-bit integers the handlers count with; std::out_of_range beyond it.
std::int16_t toInt16(long long value);

} // namespace KavriVendorEmp
