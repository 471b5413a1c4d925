#include "server/StatementChecker.h"

#include <QtTest>

using vendoremp::server::checkStatement;
using vendoremp::server::LinkChange;
using vendoremp::server::parseDecimal;

Q_DECLARE_METATYPE(LinkChange)

namespace {

const QByteArray insertHead =
    "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES (";
const QByteArray deleteHead = "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=";

QByteArray insertOf(const QByteArray &vendor, const QByteArray &employee)
{
    return insertHead + vendor + ',' + employee + ",GETDATE()) ";
}

QByteArray deleteOf(const QByteArray &vendor, const QByteArray &ids)
{
    return deleteHead + vendor + " AND EmployeeID IN(" + ids + ')';
}

LinkChange link(std::int64_t vendor, std::int64_t employee)
{
    return {LinkChange::Kind::Link, vendor, {employee}};
}

LinkChange unlink(std::int64_t vendor, std::vector<std::int64_t> employees)
{
    return {LinkChange::Kind::Unlink, vendor, std::move(employees)};
}

} // namespace

class tst_StatementChecker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void refusalSaysWhere();
    void decimal_data();
    void decimal();
};

void tst_StatementChecker::accepted_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<LinkChange>("change");
    QTest::newRow("insert as the control writes it") << insertOf("12", "101") << link(12, 101);
    QTest::newRow("insert without its trailing blank")
        << insertOf("12", "101").chopped(1) << link(12, 101);
    QTest::newRow("insert, negative vendor") << insertOf("-5", "7") << link(-5, 7);
    QTest::newRow("insert, 32-bit extremes")
        << insertOf("-2147483648", "2147483647") << link(-2147483647 - 1, 2147483647);
    QTest::newRow("insert, 64-bit extremes")
        << insertOf("-9223372036854775808", "9223372036854775807")
        << link(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
    QTest::newRow("delete, one ID") << deleteOf("12", "33") << unlink(12, {33});
    QTest::newRow("delete, many IDs") << deleteOf("12", "33,51,7") << unlink(12, {33, 51, 7});
    QTest::newRow("delete, negative vendor") << deleteOf("-5", "33,51") << unlink(-5, {33, 51});
    QTest::newRow("delete, repeated ID") << deleteOf("12", "33,33") << unlink(12, {33, 33});
    QTest::newRow("leading zeros are still decimal") << insertOf("012", "000101") << link(12, 101);
}

void tst_StatementChecker::accepted()
{
    QFETCH(QByteArray, text);
    QFETCH(LinkChange, change);
    const auto checked = checkStatement(text.toStdString());
    QVERIFY2(checked.ok(), checked.reason.c_str());
    QVERIFY(*checked.change == change);
}

void tst_StatementChecker::refused_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray insert = insertOf("12", "101");
    const QByteArray del = deleteOf("12", "33,51");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blank") << QByteArray(" ");
    QTest::newRow("select") << QByteArray("SELECT * FROM employees");
    QTest::newRow("update") << QByteArray("UPDATE VendorEmployeeCrossReference SET VendorID=1");
    QTest::newRow("drop") << QByteArray("DROP TABLE VendorEmployeeCrossReference");
    // other tables and columns
    QTest::newRow("insert, other table") << QByteArray(insert).replace("CrossReference (", "s (");
    QTest::newRow("insert, other column")
        << QByteArray(insert).replace("RecordLastUpdated", "active");
    QTest::newRow("insert, columns swapped")
        << QByteArray(insert).replace("VendorID,EmployeeID", "EmployeeID,VendorID");
    QTest::newRow("delete, other table") << QByteArray(del).replace("VendorEmployeeCross", "X");
    QTest::newRow("delete, other column") << QByteArray(del).replace("EmployeeID IN", "ID IN");
    QTest::newRow("insert, other function") << QByteArray(insert).replace("GETDATE()", "NOW()");
    // quotes, semicolons, comments, stacked statements, UNION
    QTest::newRow("quoted vendor") << insertOf("'12'", "101");
    QTest::newRow("double-quoted employee") << insertOf("12", "\"101\"");
    QTest::newRow("semicolon after insert") << insert + ';';
    QTest::newRow("semicolon before blank") << insert.chopped(1) + "; ";
    QTest::newRow("stacked after delete") << del + "; DELETE FROM employees";
    QTest::newRow("stacked after insert") << insert + "DELETE FROM employees";
    QTest::newRow("line comment") << del + "--";
    QTest::newRow("block comment inside") << deleteOf("12/**/", "33");
    QTest::newRow("union in list") << deleteOf("12", "33 UNION SELECT ID FROM employees");
    QTest::newRow("subquery in list") << deleteOf("12", "SELECT ID FROM employees");
    QTest::newRow("condition after vendor") << deleteOf("12 OR 1=1", "33");
    // numbers
    QTest::newRow("fraction") << insertOf("12.5", "101");
    QTest::newRow("exponent") << insertOf("1e3", "101");
    QTest::newRow("hexadecimal") << insertOf("0x0C", "101");
    QTest::newRow("plus sign") << insertOf("+12", "101");
    QTest::newRow("sign only") << insertOf("-", "101");
    QTest::newRow("double minus") << insertOf("--12", "101");
    QTest::newRow("expression") << insertOf("12", "100+1");
    QTest::newRow("beyond 64 bits") << insertOf("9223372036854775808", "101");
    QTest::newRow("beyond 64 bits, negative") << deleteOf("-9223372036854775809", "1");
    QTest::newRow("beyond 64 bits, employee") << deleteOf("12", "1,99999999999999999999");
    QTest::newRow("empty vendor") << insertOf("", "101");
    QTest::newRow("NULL") << insertOf("NULL", "101");
    // lists
    QTest::newRow("empty IN list") << deleteOf("12", "");
    QTest::newRow("trailing comma") << deleteOf("12", "33,");
    QTest::newRow("leading comma") << deleteOf("12", ",33");
    QTest::newRow("double comma") << deleteOf("12", "33,,51");
    QTest::newRow("blank after comma") << deleteOf("12", "33, 51");
    QTest::newRow("unclosed list") << del.chopped(1);
    // spacing and case
    QTest::newRow("two trailing blanks") << insert + ' ';
    QTest::newRow("trailing blank on delete") << del + ' ';
    QTest::newRow("leading blank") << ' ' + insert;
    QTest::newRow("blank inside the column list")
        << QByteArray(insert).replace("VendorID,EmployeeID", "VendorID, EmployeeID");
    QTest::newRow("blank before IN parenthesis") << QByteArray(del).replace("IN(", "IN (");
    QTest::newRow("blank around =") << QByteArray(del).replace("VendorID=", "VendorID = ");
    QTest::newRow("two blanks between words") << QByteArray(insert).replace("INSERT ", "INSERT  ");
    QTest::newRow("tab for a blank") << QByteArray(insert).replace("INTO ", "INTO\t");
    QTest::newRow("line break at the end") << insert.chopped(1) + '\n';
    QTest::newRow("lower case insert") << insert.toLower();
    QTest::newRow("lower case keyword") << QByteArray(del).replace("WHERE", "where");
    QTest::newRow("lower case table")
        << QByteArray(del).replace("VendorEmployee", "vendoremployee");
    QTest::newRow("NUL inside") << QByteArray(insert).replace("12,", QByteArray("12\0,", 4));
}

void tst_StatementChecker::refused()
{
    QFETCH(QByteArray, text);
    const auto checked = checkStatement(std::string(text.constData(), std::size_t(text.size())));
    QVERIFY2(!checked.ok(), text.constData());
    QVERIFY(!checked.reason.empty());
}

void tst_StatementChecker::refusalSaysWhere()
{
    const QByteArray text = deleteOf("12", "33,x");
    const auto checked = checkStatement(text.toStdString());
    QVERIFY(!checked.ok());
    QCOMPARE(
        QString::fromStdString(checked.reason),
        QStringLiteral("expected a decimal integer at character %1").arg(text.indexOf('x') + 1));
}

void tst_StatementChecker::decimal_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint64>("value");
    QTest::newRow("zero") << QByteArray("0") << true << qint64(0);
    QTest::newRow("minus zero") << QByteArray("-0") << true << qint64(0);
    QTest::newRow("negative") << QByteArray("-5") << true << qint64(-5);
    QTest::newRow("max") << QByteArray("9223372036854775807") << true
                         << std::numeric_limits<qint64>::max();
    QTest::newRow("max + 1") << QByteArray("9223372036854775808") << false << qint64(0);
    QTest::newRow("blank before") << QByteArray(" 5") << false << qint64(0);
    QTest::newRow("blank after") << QByteArray("5 ") << false << qint64(0);
    QTest::newRow("plus") << QByteArray("+5") << false << qint64(0);
    QTest::newRow("empty") << QByteArray() << false << qint64(0);
}

void tst_StatementChecker::decimal()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(qint64, value);
    const auto parsed = parseDecimal(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, value);
}

QTEST_APPLESS_MAIN(tst_StatementChecker)
#include "tst_statementchecker.moc"
