#include "platform/SortKey.h"

#include <array>

namespace KavriVendorEmp::platform {

namespace {

// The first 24 code units of a fold, a byte each, the first in the top byte of words[0], zeros
// after the end. A unit of 0xff or more can only be told as "0xff or more": from it on every byte
// is 0xff, since what followed it would otherwise decide an order the unit itself decides. Compared
// as integers, the words then order like the folds wherever the words differ.
void packFold(const QString &fold, quint64 (&words)[3])
{
    const auto *data = reinterpret_cast<const char16_t *>(fold.constData());
    const qsizetype size = fold.size();
    bool saturated = false;
    for (qsizetype i = 0; i < 24; ++i) {
        saturated = saturated || (i < size && data[i] >= 0xff);
        const quint64 unit = saturated ? 0xff : i < size ? data[i] : 0;
        words[i / 8] = (words[i / 8] << 8) | unit;
    }
}

// The case fold of each code unit below 0x250 (ASCII, Latin-1, Latin Extended-A and -B), taken
// from Qt once; 0 where the fold is not a single code unit.
//
// `exact` marks the units below 0x100 that a key can hold whole: the fold is below 0xff,
// and a unit that folds to another is the only one that does and sorts before it (upper-case
// letters come before their lower-case ones in ASCII and in Latin-1), so that for texts made of
// them the packed folds and the upper-case mask order exactly as the strings do.
struct FoldTables
{
    std::array<char16_t, 0x250> fold{};
    std::array<bool, 0x100> exact{};
};

const FoldTables &foldTables()
{
    static const FoldTables tables = [] {
        FoldTables t;
        for (char16_t c = 1; c < t.fold.size(); ++c) {
            const QString fold = QString(QChar(c)).toCaseFolded();
            t.fold[c] = fold.size() == 1 ? fold.front().unicode() : 0;
        }
        std::array<int, 0x100> folding{}; // how many other units fold to each unit
        for (char16_t c = 1; c < 0x100; ++c) {
            const char16_t f = t.fold[c];
            t.exact[c] = f != 0 && f < 0xff && (f == c || (c < f && t.fold[f] == f));
            if (t.exact[c] && f != c)
                ++folding[f];
        }
        for (char16_t c = 1; c < 0x100; ++c) {
            if (t.exact[c] && t.fold[c] != c && folding[t.fold[c]] > 1)
                t.exact[c] = false;
        }
        return t;
    }();
    return tables;
}

} // namespace

// The general case goes through the Unicode tables one character at a time, which dominated
// filling and re-keying a large list.
QString caseFolded(const QString &text)
{
    const auto &folds = foldTables().fold;
    const auto *data = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    qsizetype firstChange = -1;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i];
        if (c == 0)
            continue;
        if (c >= folds.size() || folds[c] == 0)
            return text.toCaseFolded();
        if (firstChange < 0 && folds[c] != c)
            firstChange = i;
    }
    if (firstChange < 0)
        return text; // shares the text's data
    QString folded = text;
    char16_t *out = reinterpret_cast<char16_t *>(folded.data());
    for (qsizetype i = firstChange; i < size; ++i) {
        if (out[i] != 0)
            out[i] = folds[out[i]];
    }
    return folded;
}

ColumnKey columnKey(const QString &text, QString &fold)
{
    const FoldTables &tables = foldTables();
    ColumnKey key;
    const auto *data = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    // The fold, packed as packFold would pack it (the first unit in the top byte, zeros after the
    // end), in the same pass that finds whether every unit is one a key holds whole.
    if (size <= 24) {
        quint32 upper = 0;
        qsizetype i = 0;
        for (; i < size; ++i) {
            const char16_t c = data[i];
            if (c >= 0x100 || !tables.exact[c])
                break;
            const char16_t f = tables.fold[c];
            key.words[i / 8] |= quint64(f) << (56 - 8 * (i % 8));
            upper |= quint32(f != c ? 1 : 0) << (23 - i);
        }
        if (i == size) {
            fold = QString();
            // Two texts with the same fold differ only in letter case, and at the first
            // difference the upper-case letter sorts first: inverting the mask makes that the
            // smaller word.
            key.caseWord = ~upper;
            return key;
        }
    }
    key.exact = false;
    fold = caseFolded(text);
    packFold(fold, key.words); // shifts every earlier bit out
    key.caseWord = 0;
    return key;
}

// An exact key holds each unit in its byte of the words and, in the inverted case word, whether
// it folded: a unit at the end is added or taken away there alone.
bool appendToKey(ColumnKey &key, qsizetype size, char16_t unit)
{
    const FoldTables &tables = foldTables();
    if (!key.exact || size >= 24 || unit >= 0x100 || !tables.exact[unit])
        return false;
    const char16_t f = tables.fold[unit];
    key.words[size / 8] |= quint64(f) << (56 - 8 * (size % 8));
    if (f != unit)
        key.caseWord &= ~(quint32(1) << (23 - size));
    return true;
}

bool chopKey(ColumnKey &key, qsizetype size)
{
    if (!key.exact || size < 1)
        return false;
    const qsizetype last = size - 1;
    key.words[last / 8] &= ~(quint64(0xff) << (56 - 8 * (last % 8)));
    key.caseWord |= quint32(1) << (23 - last);
    return true;
}

} // namespace KavriVendorEmp::platform
