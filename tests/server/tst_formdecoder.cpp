#include "server/FormDecoder.h"

#include <QtTest>

using vendoremp::server::decodeForm;
using vendoremp::server::FormField;

using Fields = QList<QPair<QByteArray, QByteArray>>;

class tst_FormDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodes_data();
    void decodes();
    void malformed_data();
    void malformed();
};

void tst_FormDecoder::decodes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Fields>("fields");
    QTest::newRow("empty") << QByteArray() << Fields{};
    QTest::newRow("only separators") << QByteArray("&&&") << Fields{};
    QTest::newRow("one field, trailing &") << QByteArray("SQL=a&") << Fields{{"SQL", "a"}};
    QTest::newRow("order kept") << QByteArray("SQL=b&SQL=a&") << Fields{{"SQL", "b"}, {"SQL", "a"}};
    QTest::newRow("plus is a space") << QByteArray("SQL=a+b") << Fields{{"SQL", "a b"}};
    QTest::newRow("escaped plus stays plus") << QByteArray("SQL=a%2Bb") << Fields{{"SQL", "a+b"}};
    QTest::newRow("escapes, either case")
        << QByteArray("SQL=%3d%3D%2c%28%29") << Fields{{"SQL", "==,()"}};
    QTest::newRow("escaped & and = stay in the value")
        << QByteArray("SQL=a%26b%3Dc") << Fields{{"SQL", "a&b=c"}};
    QTest::newRow("second = belongs to the value") << QByteArray("a=b=c") << Fields{{"a", "b=c"}};
    QTest::newRow("no =") << QByteArray("SQL") << Fields{{"SQL", ""}};
    QTest::newRow("empty value") << QByteArray("SQL=&") << Fields{{"SQL", ""}};
    QTest::newRow("escaped name") << QByteArray("S%51L=x") << Fields{{"SQL", "x"}};
    QTest::newRow("high bytes") << QByteArray("n=%C3%A9%E9") << Fields{{"n", "\xC3\xA9\xE9"}};
    QTest::newRow("NUL byte") << QByteArray("n=a%00b") << Fields{{"n", QByteArray("a\0b", 3)}};
    QTest::newRow("the control's delete")
        << QByteArray("SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+VendorID%3D12+AND+"
                      "EmployeeID+IN%2833%2C51%29&")
        << Fields{{"SQL", "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=12 AND "
                          "EmployeeID IN(33,51)"}};
}

void tst_FormDecoder::decodes()
{
    QFETCH(QByteArray, body);
    QFETCH(Fields, fields);
    const auto form = decodeForm(body.toStdString());
    QVERIFY2(form.ok, form.error.c_str());
    Fields got;
    for (const FormField &f : form.fields)
        got.append({QByteArray::fromStdString(f.name), QByteArray::fromStdString(f.value)});
    QCOMPARE(got, fields);
}

void tst_FormDecoder::malformed_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("byte"); // 1-based position the error names
    QTest::newRow("lone %") << QByteArray("SQL=%") << 5;
    QTest::newRow("one digit") << QByteArray("SQL=%4") << 5;
    QTest::newRow("not hex") << QByteArray("SQL=%4G") << 5;
    QTest::newRow("not hex, first") << QByteArray("SQL=%G4") << 5;
    QTest::newRow("in the name") << QByteArray("S%L=x") << 2;
    QTest::newRow("in a later field") << QByteArray("SQL=ok&SQL=a%zz&") << 13;
    QTest::newRow("%u form") << QByteArray("SQL=%u0041") << 5;
}

void tst_FormDecoder::malformed()
{
    QFETCH(QByteArray, body);
    QFETCH(int, byte);
    const auto form = decodeForm(body.toStdString());
    QVERIFY(!form.ok);
    QVERIFY(form.fields.empty()); // nothing half-decoded is handed on
    QCOMPARE(QString::fromStdString(form.error),
             QStringLiteral("malformed percent-encoding at byte %1").arg(byte));
}

QTEST_APPLESS_MAIN(tst_FormDecoder)
#include "tst_formdecoder.moc"
