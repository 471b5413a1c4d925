#pragma once

// The collation keys of the list view: what sorting needs of one column's text, kept with the
// text so that re-keying reads no strings and most comparisons are integer ones.
//
// Texts compare case-insensitively (by their case folds), then case-sensitively by UTF-16 code
// units. A key settles most comparisons alone; where it cannot, the strings decide.

#include <QString>

namespace KavriVendorEmp::platform {

struct ColumnKey
{
    quint64 words[3] = {};          // the fold's first 24 code units (packFold)
    quint32 caseWord = ~quint32(0); // of an exact key: its upper-case letters (24 bits), inverted
    // The text is at most 24 code units, each one a key holds whole (FoldTables::exact): the
    // words and caseWord tell it all.
    bool exact = true;
};

/// QString::toCaseFolded, with the Latin scripts done from a table.
QString caseFolded(const QString &text);

/// The key of `text`. Only a text the key cannot tell whole needs its case fold kept, in `fold`;
/// for the others `fold` is left empty, which spares a string per row and column.
ColumnKey columnKey(const QString &text, QString &fold);

/// The key of a text of `size` units after `unit` was appended to it, or after its last unit was
/// dropped, made from the text's key `key` rather than from the new text. False, with `key` left
/// as it was, where only the new text can tell its key (a key that is not exact, or that would
/// not be); columnKey then makes it.
bool appendToKey(ColumnKey &key, qsizetype size, char16_t unit);
bool chopKey(ColumnKey &key, qsizetype size);

/// -1 or 1 when the keys alone order the texts, 0 when the texts are equal, 2 when only the
/// strings can tell.
inline int compareKeys(const ColumnKey &a, const ColumnKey &b)
{
    for (int i = 0; i < 3; ++i) {
        if (a.words[i] != b.words[i])
            return a.words[i] < b.words[i] ? -1 : 1;
    }
    if (!a.exact || !b.exact)
        return 2;
    if (a.caseWord != b.caseWord)
        return a.caseWord < b.caseWord ? -1 : 1;
    return 0;
}

} // namespace KavriVendorEmp::platform
