#include "platform/SortKey.h"

#include <QtTest>

#include <vector>

using namespace KavriVendorEmp::platform;

namespace {

// The order the list promises: case folds first, then the code units, as the strings say it.
int reference(const QString &a, const QString &b, const QString &foldA, const QString &foldB)
{
    int c = foldA.compare(foldB);
    if (c == 0)
        c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int reference(const QString &a, const QString &b)
{
    return reference(a, b, a.toCaseFolded(), b.toCaseFolded());
}

int keyOrder(const QString &a, const QString &b)
{
    QString foldA, foldB;
    return compareKeys(columnKey(a, foldA), columnKey(b, foldB));
}

} // namespace

// A key may leave a comparison to the strings (2), but what it decides must be what the strings
// say, in both directions.
class tst_SortKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysAgreeWithTheStrings_data();
    void keysAgreeWithTheStrings();
    void keysAgreeOverATrickyAlphabet();
    void keysChangedAtTheEnd();
};

void tst_SortKey::keysAgreeWithTheStrings_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("settled"); // the keys alone must decide

    // Such a unit used to be clamped to 0xff and packing went on, so the unit after it decided.
    QTest::newRow("unit of 0xff or more decides alone")
        << QStringLiteral("\u00ffb") << QStringLiteral("\u0101a") << false;
    QTest::newRow("0xff itself is no exact unit")
        << QStringLiteral("\u00ff\u00ff") << QStringLiteral("\u00ffa") << false;
    QTest::newRow("digit strings by character order") << "100"
                                                      << "12" << true;
    QTest::newRow("upper case first at the first difference") << "Ab"
                                                              << "aB" << true;
    QTest::newRow("Latin-1 letters held whole")
        << QStringLiteral("\u00c9cole") << QStringLiteral("\u00e9cole") << true;
    // Packed, a NUL and the end of the text are both zero bytes.
    QTest::newRow("NUL is not the end of the text")
        << QStringLiteral("a") << QStringView(u"a\0", 2).toString() << false;
    QTest::newRow("difference past 24 units")
        << QString(24, u'x') + u'B' << QString(24, u'x') + u'a' << false;
    QTest::newRow("fold outside Latin-1")
        << QStringLiteral("\u00b5") << QStringLiteral("\u03bc") << false;
    QTest::newRow("equal texts") << "Same"
                                 << "Same" << true;
}

void tst_SortKey::keysAgreeWithTheStrings()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, settled);
    const int expected = reference(a, b);
    const int forward = keyOrder(a, b);
    const int backward = keyOrder(b, a);
    QVERIFY2(forward == 2 || forward == expected, qPrintable(QString::number(forward)));
    QVERIFY2(backward == 2 || backward == -expected, qPrintable(QString::number(backward)));
    if (settled)
        QCOMPARE(forward, expected);
}

// Every pair of short texts from units that sit at the edges of the key's rules, alone and
// behind a prefix that pushes them across the 24 units a key holds.
void tst_SortKey::keysAgreeOverATrickyAlphabet()
{
    const char16_t units[] = {u'\0',  u'0',   u'A',   u'a',   u'Z',   u'z',
                              0x00b5, 0x00c9, 0x00df, 0x00e9, 0x00fe, 0x00ff,
                              0x0100, 0x0101, 0x0178, 0x017f, 0x212a};
    QStringList texts;
    for (const char16_t first : units) {
        texts << QString(QChar(first));
        for (const char16_t second : units)
            texts << QString(QChar(first)) + QChar(second);
    }
    const QStringList shortTexts = texts;
    for (const QString &text : shortTexts)
        texts << QString(23, u'k') + text;

    std::vector<ColumnKey> keys;
    QStringList folds;
    for (const QString &text : std::as_const(texts)) {
        QString unused;
        keys.push_back(columnKey(text, unused));
        folds << text.toCaseFolded();
    }
    int wrong = 0;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        for (qsizetype j = 0; j < texts.size(); ++j) {
            const int c = compareKeys(keys[i], keys[j]);
            if (c != 2 && c != reference(texts[i], texts[j], folds[i], folds[j]) && ++wrong <= 5)
                qWarning("keys order %s and %s wrongly", texts[i].toUtf8().toHex().constData(),
                         texts[j].toUtf8().toHex().constData());
        }
    }
    QCOMPARE(wrong, 0);
}

// A key grown or shortened by one unit is the key of the new text, or is left to columnKey.
void tst_SortKey::keysChangedAtTheEnd()
{
    const char16_t units[] = {u'\0', u'0', u'N', u'd', 0x00c9, 0x00b5, 0x00ff, 0x0101, 0x212a};
    QStringList texts = {QString(), QStringLiteral("000042"), QString(23, u'k'),
                         QString(24, u'k'), QStringLiteral("\u00b5")};
    for (const char16_t unit : units)
        texts << QStringLiteral("-00001") + QChar(unit);
    const auto same = [](const ColumnKey &a, const ColumnKey &b) {
        return std::equal(std::begin(a.words), std::end(a.words), std::begin(b.words)) &&
               a.caseWord == b.caseWord && a.exact == b.exact;
    };
    int made = 0;
    for (const QString &text : std::as_const(texts)) {
        QString unused;
        const ColumnKey key = columnKey(text, unused);
        for (const char16_t unit : units) {
            ColumnKey grown = key;
            const QString longer = text + QChar(unit);
            if (appendToKey(grown, text.size(), unit))
                QVERIFY2(same(grown, columnKey(longer, unused)), qPrintable(longer));
            else
                QVERIFY(same(grown, key));
            made += same(grown, key) ? 0 : 1;
        }
        ColumnKey shortened = key;
        if (chopKey(shortened, text.size()))
            QVERIFY2(same(shortened, columnKey(text.chopped(1), unused)), qPrintable(text));
        else
            QVERIFY(same(shortened, key));
    }
    QVERIFY(made > 0);
}

QTEST_GUILESS_MAIN(tst_SortKey)
#include "tst_sortkey.moc"
