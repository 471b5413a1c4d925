#include "editing/ChangeCode.h"

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
    // every digit.
    const bool negative = id.startsWith(u'-');
    qsizetype first = negative ? 1 : 0;
    while (first < id.size() - 1 && id[first] == u'0')
        ++first;
    const QStringView digits = QStringView(id).mid(first);

    QString code;
    code.reserve(baseCodeDigits + 1);
    // Minus zero is zero.
    if (negative && digits != u"0")
        code += u'-';
    for (qsizetype i = digits.size(); i < baseCodeDigits; ++i)
        code += u'0';
    code += digits;
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
