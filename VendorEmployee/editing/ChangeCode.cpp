#include "editing/ChangeCode.h"

#include <algorithm>

namespace KavriVendorEmp::ChangeCode {

namespace {

constexpr qsizetype baseCodeDigits = 6;

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QString baseCode(const QString &id)
{
    if (!isNumeric(id))
        return QString(baseCodeDigits, u'0');

    // Worked on the digits rather than on a converted value, so that an ID of any length keeps
    // every digit. Written into one buffer of the final size: every loaded row makes one.
    const bool negative = id.startsWith(u'-');
    qsizetype first = negative ? 1 : 0;
    while (first < id.size() - 1 && id[first] == u'0')
        ++first;
    const QStringView digits = QStringView(id).mid(first);
    // Minus zero is zero.
    const qsizetype sign = negative && digits != u"0" ? 1 : 0;
    const qsizetype zeros = std::max<qsizetype>(0, baseCodeDigits - digits.size());

    QString code(sign + zeros + digits.size(), Qt::Uninitialized);
    QChar *out = code.data();
    if (sign)
        *out++ = u'-';
    out = std::fill_n(out, zeros, QChar(u'0'));
    std::copy(digits.begin(), digits.end(), out);
    return code;
}

bool isNumeric(const QString &code)
{
    const qsizetype first = code.startsWith(u'-') ? 1 : 0;
    if (code.size() == first)
        return false;
    for (qsizetype i = first; i < code.size(); ++i) {
        if (!isDigit(code[i]))
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
