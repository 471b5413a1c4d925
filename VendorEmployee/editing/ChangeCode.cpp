#include "editing/ChangeCode.h"

#include <algorithm>

namespace KavriVendorEmp::ChangeCode {

namespace {

constexpr qsizetype baseCodeDigits = 6;

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The base code of an ID as its three parts: a minus, zeros, then the ID's own digits.
struct BaseLayout
{
    bool minus = false;
    qsizetype zeros = baseCodeDigits;
    const char16_t *digits = nullptr;
    qsizetype digitCount = 0;

    qsizetype size() const { return (minus ? 1 : 0) + zeros + digitCount; }
};

// Worked on the digits rather than on a converted value, so that an ID of any length keeps every
// digit.
BaseLayout layoutOf(QStringView id)
{
    BaseLayout base;
    const char16_t *const text = id.utf16();
    const qsizetype size = id.size();
    qsizetype first = size > 0 && text[0] == u'-' ? 1 : 0;
    if (first == size)
        return base; // not a decimal number: all zeros
    for (qsizetype i = first; i < size; ++i) {
        if (!isDigit(text[i]))
            return base;
    }
    const bool negative = first == 1;
    while (first < size - 1 && text[first] == u'0')
        ++first;
    base.digits = text + first;
    base.digitCount = size - first;
    // Minus zero is zero.
    base.minus = negative && !(base.digitCount == 1 && *base.digits == u'0');
    base.zeros = std::max<qsizetype>(0, baseCodeDigits - base.digitCount);
    return base;
}

} // namespace

QString baseCode(const QString &id)
{
    const BaseLayout base = layoutOf(id);
    // Written in place, with room for the one-letter suffix of a moved row: one allocation.
    const qsizetype size = base.size();
    QString code;
    code.reserve(size + 1);
    code.resize(size);
    char16_t *out = reinterpret_cast<char16_t *>(code.data());
    if (base.minus)
        *out++ = u'-';
    out = std::fill_n(out, base.zeros, u'0');
    std::copy_n(base.digits, base.digitCount, out);
    return code;
}

// One walk over the code beside the parts of the base code, as a move runs it on every row.
char16_t suffixOf(QStringView code, QStringView id)
{
    const BaseLayout base = layoutOf(id);
    const qsizetype size = code.size();
    const qsizetype baseSize = base.size();
    if (size != baseSize && size != baseSize + 1)
        return otherForm;
    const char16_t *p = code.utf16();
    if (base.minus && *p++ != u'-')
        return otherForm;
    for (const char16_t *const zerosEnd = p + base.zeros; p != zerosEnd; ++p) {
        if (*p != u'0')
            return otherForm;
    }
    for (qsizetype i = 0; i < base.digitCount; ++i) {
        if (p[i] != base.digits[i])
            return otherForm;
    }
    if (size == baseSize)
        return 0;
    const char16_t suffix = p[base.digitCount];
    return isDigit(suffix) ? otherForm : suffix;
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
