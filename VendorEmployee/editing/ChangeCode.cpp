#include "editing/ChangeCode.h"

#include <algorithm>

namespace KavriVendorEmp::ChangeCode {

namespace {

constexpr qsizetype baseCodeDigits = 6;

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QString baseCode(const QString &id)
{
    if (!isNumeric(id))
        return QString(baseCodeDigits, u'0');

    // Worked on the digits rather than on a converted value, so that an ID of any length keeps
    // every digit.
    const QChar *const text = id.constData();
    const bool negative = text[0] == u'-';
    qsizetype first = negative ? 1 : 0;
    while (first < id.size() - 1 && text[first] == u'0')
        ++first;
    const qsizetype digits = id.size() - first;
    // Minus zero is zero.
    const bool minus = negative && !(digits == 1 && text[first] == u'0');
    const qsizetype zeros = std::max<qsizetype>(0, baseCodeDigits - digits);

    // Written in place, with room for the one-letter suffix of a moved row: one allocation.
    const qsizetype size = (minus ? 1 : 0) + zeros + digits;
    QString code;
    code.reserve(size + 1);
    code.resize(size);
    QChar *out = code.data();
    if (minus)
        *out++ = u'-';
    out = std::fill_n(out, zeros, u'0');
    std::copy_n(text + first, digits, out);
    return code;
}

bool isNumeric(const QString &code)
{
    const char16_t *p = reinterpret_cast<const char16_t *>(code.constData());
    const char16_t *const end = p + code.size();
    if (p != end && *p == u'-')
        ++p;
    if (p == end)
        return false;
    for (; p != end; ++p) {
        if (!isDigit(*p))
            return false;
    }
    return true;
}

} // namespace KavriVendorEmp::ChangeCode

namespace KavriVendorEmp::CountLabels {

QString selected(int n)
{
    return QStringLiteral("Selected Employees (%1):").arg(n);
}

QString nonSelected(int n)
{
    return QStringLiteral("Non Selected Active Employees (%1):").arg(n);
}

} // namespace KavriVendorEmp::CountLabels
