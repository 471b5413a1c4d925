#include "control/Conversions.h"

#include <limits>
#include <stdexcept>

namespace KavriVendorEmp {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

long long parseDecimal(const QString &text, long long min, long long max)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    bool negative = false;
    if (begin < end && (text[begin] == u'-' || text[begin] == u'+')) {
        negative = text[begin] == u'-';
        ++begin;
    }
    if (begin == end)
        throw std::invalid_argument("type mismatch: not a number");

    // Accumulate as a negative magnitude so that the most negative value fits.
    long long value = 0;
    const long long limit = negative ? min : -max;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            throw std::invalid_argument("type mismatch: not a number");
        const int digit = c - u'0';
        if (value < (limit + digit) / 10)
            throw std::out_of_range("overflow");
        value = value * 10 - digit;
        if (value < limit)
            throw std::out_of_range("overflow");
    }
    return negative ? value : -value;
}

} // namespace

std::int32_t textToInt32(const QString &text)
{
    return static_cast<std::int32_t>(parseDecimal(text, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max()));
}

std::int16_t textToInt16(const QString &text)
{
    return static_cast<std::int16_t>(parseDecimal(text, std::numeric_limits<std::int16_t>::min(),
                                                  std::numeric_limits<std::int16_t>::max()));
}

std::int16_t toInt16(long long value)
{
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        throw std::out_of_range("overflow");
    return static_cast<std::int16_t>(value);
}

} // namespace KavriVendorEmp
