#include "editing/ChangeCode.h"

#include <QtTest>

using namespace KavriVendorEmp;

class tst_ChangeCode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void baseCode_data();
    void baseCode();
    void isNumeric_data();
    void isNumeric();
    void suffixOf_data();
    void suffixOf();
    void countLabels();
};

void tst_ChangeCode::baseCode_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("code");
    QTest::newRow("two digits") << "42"
                                << "000042";
    QTest::newRow("already padded") << "000042"
                                    << "000042";
    QTest::newRow("zero") << "0"
                          << "000000";
    QTest::newRow("zeros") << "0000000"
                           << "000000";
    QTest::newRow("six digits") << "123456"
                                << "123456";
    QTest::newRow("seven digits") << "1234567"
                                  << "1234567";
    QTest::newRow("seven digits after zeros") << "0001234567"
                                              << "1234567";
    QTest::newRow("beyond 64 bits") << "123456789012345678901234"
                                    << "123456789012345678901234";
    QTest::newRow("negative") << "-5"
                              << "-000005";
    QTest::newRow("negative padded") << "-0005"
                                     << "-000005";
    QTest::newRow("negative seven digits") << "-1234567"
                                           << "-1234567";
    QTest::newRow("minus zero") << "-000"
                                << "000000";
    // Not decimal numbers: a numeric code all the same, so a load never yields a pending change.
    QTest::newRow("letters") << "abc"
                             << "000000";
    QTest::newRow("empty") << ""
                           << "000000";
    QTest::newRow("minus only") << "-"
                                << "000000";
    QTest::newRow("plus sign") << "+5"
                               << "000000";
    QTest::newRow("trailing letter") << "42N"
                                     << "000000";
    QTest::newRow("inner blank") << "4 2"
                                 << "000000";
    QTest::newRow("non-ASCII digits") << QString::fromUtf16(u"\u0664\u0662") << "000000";
}

void tst_ChangeCode::baseCode()
{
    QFETCH(QString, id);
    QFETCH(QString, code);
    QCOMPARE(ChangeCode::baseCode(id), code);
    QVERIFY(ChangeCode::isNumeric(ChangeCode::baseCode(id)));
}

void tst_ChangeCode::isNumeric_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("numeric");
    QTest::newRow("base code") << "000042" << true;
    QTest::newRow("seven digits") << "1234567" << true;
    QTest::newRow("negative") << "-000005" << true;
    QTest::newRow("pending insert") << "000042N" << false;
    QTest::newRow("pending delete") << "000042D" << false;
    QTest::newRow("negative pending insert") << "-000005N" << false;
    QTest::newRow("other letter") << "000042X" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("minus only") << "-" << false;
    QTest::newRow("letter only") << "N" << false;
    QTest::newRow("plus sign") << "+42" << false;
    QTest::newRow("leading blank") << " 42" << false;
    QTest::newRow("trailing blank") << "42 " << false;
    QTest::newRow("double minus") << "--42" << false;
    QTest::newRow("inner minus") << "4-2" << false;
}

void tst_ChangeCode::isNumeric()
{
    QFETCH(QString, code);
    QFETCH(bool, numeric);
    QCOMPARE(ChangeCode::isNumeric(code), numeric);
}

void tst_ChangeCode::suffixOf_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("suffix");
    const int other = ChangeCode::otherForm;
    QTest::newRow("base code") << "000042" << "42" << 0;
    QTest::newRow("pending insert") << "000042N" << "0042" << int(u'N');
    QTest::newRow("negative pending delete") << "-000005D" << "-5" << int(u'D');
    QTest::newRow("any non-digit") << "1234567-" << "1234567" << int(u'-');
    QTest::newRow("not an ID: zeros") << "000000N" << "abc" << int(u'N');
    QTest::newRow("digit after the base") << "0000421" << "42" << other;
    QTest::newRow("two letters") << "000042ND" << "42" << other;
    QTest::newRow("another ID") << "000043N" << "42" << other;
    QTest::newRow("unpadded") << "42N" << "42" << other;
    QTest::newRow("sign missing") << "000005" << "-5" << other;
    QTest::newRow("empty") << "" << "42" << other;
}

// A code is rebuilt from its ID and suffix exactly, wherever the suffix is not otherForm.
void tst_ChangeCode::suffixOf()
{
    QFETCH(QString, code);
    QFETCH(QString, id);
    QFETCH(int, suffix);
    QCOMPARE(int(ChangeCode::suffixOf(code, id)), suffix);
    if (suffix != ChangeCode::otherForm)
        QCOMPARE(ChangeCode::baseCode(id) + (suffix ? QString(QChar(suffix)) : QString()), code);
}

void tst_ChangeCode::countLabels()
{
    QCOMPARE(CountLabels::selected(12), QStringLiteral("Selected Employees (12):"));
    QCOMPARE(CountLabels::nonSelected(0), QStringLiteral("Non Selected Active Employees (0):"));
    QCOMPARE(CountLabels::nonSelected(-3), QStringLiteral("Non Selected Active Employees (-3):"));
}

QTEST_APPLESS_MAIN(tst_ChangeCode)
#include "tst_changecode.moc"
