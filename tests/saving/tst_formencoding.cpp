// Form encoding and the statement texts of a save.

#include "saving/Statements.h"
#include "saving/UrlEncode.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QTest>

#include <stdexcept>

using namespace KavriVendorEmp;

class tst_FormEncoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlEncode_data();
    void urlEncode();
    void urlEncodeEveryAsciiCode();
    void controlUrlEncode();

    void insertLink_data();
    void insertLink();
    void deleteLinks_data();
    void deleteLinks();
    void refusesUnsafeIDs_data();
    void refusesUnsafeIDs();
    void postBody();
};

void tst_FormEncoding::urlEncode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");

    QTest::newRow("space and ampersand") << u"a b&c"_qs << u"a+b%26c"_qs;
    QTest::newRow("tab tilde asterisk") << u"x\ty~*"_qs << u"x%09y%7E*"_qs;
    QTest::newRow("delete statement")
        << u"DELETE FROM VendorEmployeeCrossReference WHERE VendorID=12 AND EmployeeID IN(33,51)"_qs
        << u"DELETE+FROM+VendorEmployeeCrossReference+WHERE+VendorID%3D12+AND+EmployeeID+IN%2833%2C51%29"_qs;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("kept only") << u"AZaz09*-._"_qs << u"AZaz09*-._"_qs;
    QTest::newRow("line feed") << u"\n"_qs << u"%0A"_qs;
    QTest::newRow("plus") << u"+"_qs << u"%2B"_qs;
    QTest::newRow("tilde") << u"~"_qs << u"%7E"_qs;
    QTest::newRow("e acute") << u"\u00e9"_qs << u"%C3%A9"_qs;
    QTest::newRow("nul") << QString(QChar(0)) << u"%00"_qs;
    QTest::newRow("three-byte") << u"\u20ac"_qs << u"%E2%82%AC"_qs;
    QTest::newRow("surrogate pair") << u"\U0001F600"_qs << u"%F0%9F%98%80"_qs;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << u"%EF%BF%BD"_qs;
}

void tst_FormEncoding::urlEncode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(formUrlEncode(text), encoded);
}

void tst_FormEncoding::urlEncodeEveryAsciiCode()
{
    for (int c = 0; c < 128; ++c) {
        const QString text{QChar(char16_t(c))};
        QString expected;
        if (c == ' ')
            expected = u"+"_qs;
        else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                 c == '*' || c == '-' || c == '.' || c == '_')
            expected = text;
        else
            expected = QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        QCOMPARE(formUrlEncode(text), expected);
    }
}

void tst_FormEncoding::controlUrlEncode()
{
    VendorEmployee control;
    QCOMPARE(control.urlEncode(u"a b&c \u00e9"_qs), u"a+b%26c+%C3%A9"_qs);
    QString viaMeta;
    QVERIFY(QMetaObject::invokeMethod(&control, "urlEncode", Q_RETURN_ARG(QString, viaMeta),
                                      Q_ARG(QString, u"x\ty"_qs)));
    QCOMPARE(viaMeta, u"x%09y"_qs);
}

void tst_FormEncoding::insertLink_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("statement");

    QTest::newRow("plain") << 12 << u"101"_qs
                           << u"INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,"
                              "RecordLastUpdated) VALUES (12,101,GETDATE()) "_qs;
    QTest::newRow("negative vendor") << -7 << u"5"_qs
                                     << u"INSERT INTO VendorEmployeeCrossReference (VendorID,"
                                        "EmployeeID,RecordLastUpdated) VALUES (-7,5,GETDATE()) "_qs;
    QTest::newRow("leading zeros kept") << 0 << u"000042"_qs
                                        << u"INSERT INTO VendorEmployeeCrossReference (VendorID,"
                                           "EmployeeID,RecordLastUpdated) VALUES (0,000042,"
                                           "GETDATE()) "_qs;
    QTest::newRow("extremes")
        << int(INT32_MIN) << u"-2147483648"_qs
        << u"INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,"
           "RecordLastUpdated) VALUES (-2147483648,-2147483648,GETDATE()) "_qs;
}

void tst_FormEncoding::insertLink()
{
    QFETCH(int, vendor);
    QFETCH(QString, id);
    QFETCH(QString, statement);
    QCOMPARE(Statements::insertLink(vendor, id), statement);
}

void tst_FormEncoding::deleteLinks_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("statement");

    QTest::newRow("two") << 12 << QStringList{u"33"_qs, u"51"_qs}
                         << u"DELETE FROM VendorEmployeeCrossReference WHERE VendorID=12 AND "
                            "EmployeeID IN(33,51)"_qs;
    QTest::newRow("one") << 12 << QStringList{u"40"_qs}
                         << u"DELETE FROM VendorEmployeeCrossReference WHERE VendorID=12 AND "
                            "EmployeeID IN(40)"_qs;
    QTest::newRow("negative vendor") << -3 << QStringList{u"1"_qs, u"-2"_qs, u"3"_qs}
                                     << u"DELETE FROM VendorEmployeeCrossReference WHERE "
                                        "VendorID=-3 AND EmployeeID IN(1,-2,3)"_qs;
}

void tst_FormEncoding::deleteLinks()
{
    QFETCH(int, vendor);
    QFETCH(QStringList, ids);
    QFETCH(QString, statement);
    QCOMPARE(Statements::deleteLinks(vendor, ids), statement);
}

void tst_FormEncoding::refusesUnsafeIDs_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("empty") << QString();
    QTest::newRow("minus alone") << u"-"_qs;
    QTest::newRow("blank around") << u" 42"_qs;
    QTest::newRow("plus sign") << u"+42"_qs;
    QTest::newRow("injection") << u"1) ; DROP TABLE VendorEmployeeCrossReference --"_qs;
    QTest::newRow("quote") << u"1'"_qs;
    QTest::newRow("decimal") << u"1.5"_qs;
    QTest::newRow("double minus") << u"--1"_qs;
    QTest::newRow("arabic-indic digit") << u"\u0661"_qs;
    QTest::newRow("fullwidth digit") << u"\uff11"_qs;
}

void tst_FormEncoding::refusesUnsafeIDs()
{
    QFETCH(QString, id);
    QVERIFY(!Statements::isPlainInteger(id));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, Statements::insertLink(1, id));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             Statements::deleteLinks(1, QStringList{u"7"_qs, id}));
}

void tst_FormEncoding::postBody()
{
    QCOMPARE(Statements::postBody({}), QByteArray());
    const QStringList statements{Statements::insertLink(12, u"101"_qs),
                                 Statements::deleteLinks(12, {u"33"_qs, u"51"_qs})};
    QCOMPARE(Statements::postBody(statements),
             QByteArray("SQL=INSERT+INTO+VendorEmployeeCrossReference+%28VendorID%2CEmployeeID%2C"
                        "RecordLastUpdated%29+VALUES+%2812%2C101%2CGETDATE%28%29%29+&"
                        "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+VendorID%3D12+AND+"
                        "EmployeeID+IN%2833%2C51%29&"));
    // A field's value may hold any text: "&" and "=" inside it are escaped.
    QCOMPARE(Statements::postBody({u"a=b&c"_qs, QString()}), QByteArray("SQL=a%3Db%26c&SQL=&"));
}

QTEST_MAIN(tst_FormEncoding)
#include "tst_formencoding.moc"
