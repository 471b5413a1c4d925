#include "server/EmployeeDocument.h"

#include <QtTest>

#include <pugixml.hpp>

using vendoremp::server::Employee;
using vendoremp::server::unnamedEmployee;
using vendoremp::server::writeEmployeeDocument;
using vendoremp::server::xmlText;

namespace {

// By position only, as the control reads it; whitespace-only text is no node.
pugi::xml_node child(pugi::xml_node node, int index)
{
    pugi::xml_node c = node.first_child();
    while (c && index-- > 0)
        c = c.next_sibling();
    return c;
}

int childCount(pugi::xml_node node)
{
    int n = 0;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        ++n;
    return n;
}

} // namespace

class tst_EmployeeDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void positions();
    void emptyLists();
    void names_data();
    void names();
    void escapedBytes_data();
    void escapedBytes();
    void manyRows();
};

void tst_EmployeeDocument::positions()
{
    const std::string xml =
        writeEmployeeDocument({{101, "Ann"}, {-7, "Bob"}, {300, "Cy"}}, {{5, "Dee"}});
    pugi::xml_document doc;
    QVERIFY(doc.load_string(xml.c_str()));
    const pugi::xml_node root = doc.document_element();
    QCOMPARE(childCount(root), 3);
    const pugi::xml_node record = child(child(root, 0), 0);
    QCOMPARE(childCount(child(root, 0)), 1);
    QCOMPARE(childCount(record), 2);
    QCOMPARE(QString::fromUtf8(child(record, 0).text().get()), QStringLiteral("3"));
    QCOMPARE(QString::fromUtf8(child(record, 1).text().get()), QStringLiteral("1"));

    const pugi::xml_node nonSelected = child(root, 1);
    QCOMPARE(childCount(nonSelected), 3);
    const pugi::xml_node second = child(nonSelected, 1);
    QCOMPARE(childCount(second), 2);
    QCOMPARE(QString::fromUtf8(child(second, 0).first_child().value()), QStringLiteral("-7"));
    QCOMPARE(QString::fromUtf8(child(second, 1).first_child().value()), QStringLiteral("Bob"));
    const pugi::xml_node selected = child(root, 2);
    QCOMPARE(childCount(selected), 1);
    QCOMPARE(QString::fromUtf8(child(child(selected, 0), 0).first_child().value()),
             QStringLiteral("5"));
    QVERIFY(
        QByteArray::fromStdString(xml).startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
}

void tst_EmployeeDocument::emptyLists()
{
    pugi::xml_document doc;
    QVERIFY(doc.load_string(writeEmployeeDocument({}, {}).c_str()));
    const pugi::xml_node root = doc.document_element();
    QCOMPARE(childCount(root), 3); // both sections are there, empty
    QCOMPARE(QString::fromUtf8(child(child(child(root, 0), 0), 0).text().get()),
             QStringLiteral("0"));
    QCOMPARE(childCount(child(root, 1)), 0);
    QCOMPARE(childCount(child(root, 2)), 0);
}

void tst_EmployeeDocument::names_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("read");
    QTest::newRow("plain") << QByteArray("Ann Lee") << QStringLiteral("Ann Lee");
    QTest::newRow("apostrophe") << QByteArray("Liam O'Brien") << QStringLiteral("Liam O'Brien");
    QTest::newRow("markup") << QByteArray("<b>A & B</b> \"x\"")
                            << QStringLiteral("<b>A & B</b> \"x\"");
    QTest::newRow("CDATA end") << QByteArray("a]]>b") << QStringLiteral("a]]>b");
    QTest::newRow("entity text") << QByteArray("&amp;") << QStringLiteral("&amp;");
    QTest::newRow("accents") << QByteArray("Zo\xC3\xAB N\xC3\xBA\xC3\xB1\x65z")
                             << QStringLiteral("Zo\u00EB N\u00FA\u00F1ez");
    QTest::newRow("outside the BMP")
        << QByteArray("A \xF0\x9F\x98\x80") << QStringLiteral("A \U0001F600");
    QTest::newRow("blanks around") << QByteArray("  Ann  ") << QStringLiteral("  Ann  ");
    QTest::newRow("carriage return kept") << QByteArray("a\rb") << QStringLiteral("a\rb");
    // A field must never be empty, or the control's load stops at it.
    QTest::newRow("empty") << QByteArray() << QString::fromLatin1(unnamedEmployee);
    QTest::newRow("blanks only") << QByteArray(" \t\r\n ") << QString::fromLatin1(unnamedEmployee);
    // Bytes that are not UTF-8 and characters XML cannot carry would make the document unreadable.
    QTest::newRow("Latin-1 byte") << QByteArray("Ren\xE9") << QStringLiteral("Ren\uFFFD");
    QTest::newRow("cut sequence") << QByteArray("a\xC3") << QStringLiteral("a\uFFFD");
    QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF") << QStringLiteral("a\uFFFD\uFFFD");
    QTest::newRow("surrogate") << QByteArray("a\xED\xA0\x80")
                               << QStringLiteral("a\uFFFD\uFFFD\uFFFD");
    QTest::newRow("control character") << QByteArray("a\x01\x1F"
                                                     "b")
                                       << QStringLiteral("a\uFFFD\uFFFDb");
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QStringLiteral("a\uFFFDb");
    QTest::newRow("U+FFFE") << QByteArray("a\xEF\xBF\xBE") << QStringLiteral("a\uFFFD");
    QTest::newRow("markup at both ends and in a row")
        << QByteArray("&<>x>>&") << QStringLiteral("&<>x>>&");
    QTest::newRow("plain runs between everything else")
        << QByteArray("ab\xC3\xA9"
                      "cd\xFF"
                      "ef&\x01gh<\xF0\x9F\x98\x80ij\rk")
        << QStringLiteral("ab\u00E9cd\uFFFDef&\uFFFDgh<\U0001F600ij\rk");
}

// The exact bytes: the document is compared byte for byte by caches and by people.
void tst_EmployeeDocument::escapedBytes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("plain") << QByteArray("Ann O'Lee \"x\"") << QByteArray("Ann O'Lee \"x\"");
    QTest::newRow("markup") << QByteArray("A & <B>") << QByteArray("A &amp; &lt;B&gt;");
    QTest::newRow("markup only") << QByteArray("<<&>>") << QByteArray("&lt;&lt;&amp;&gt;&gt;");
    QTest::newRow("CR") << QByteArray("a\rb\r") << QByteArray("a&#13;b&#13;");
    QTest::newRow("tab, LF and DEL kept") << QByteArray("a\tb\nc\x7F") << QByteArray("a\tb\nc\x7F");
    QTest::newRow("UTF-8 kept") << QByteArray("x\xC3\xA9<\xE2\x82\xAC")
                                << QByteArray("x\xC3\xA9&lt;\xE2\x82\xAC");
    QTest::newRow("bad bytes replaced") << QByteArray("ab\xFF"
                                                      "cd\x02")
                                        << QByteArray("ab\xEF\xBF\xBD"
                                                      "cd\xEF\xBF\xBD");
    QTest::newRow("blank only") << QByteArray("\t \r\n") << QByteArray(unnamedEmployee);
}

void tst_EmployeeDocument::escapedBytes()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, text);
    const std::string out = xmlText(std::string_view(name.constData(), std::size_t(name.size())));
    QCOMPARE(QByteArray::fromStdString(out), text);
}

void tst_EmployeeDocument::names()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, read);
    const std::string xml = writeEmployeeDocument(
        {{1, std::string(stored.constData(), std::size_t(stored.size()))}}, {});
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_string(xml.c_str());
    QVERIFY2(parsed, parsed.description());
    const pugi::xml_node name = child(child(child(doc.document_element(), 1), 0), 1).first_child();
    QVERIFY(name); // the field has its child node
    QCOMPARE(QString::fromUtf8(name.value()), read);
}

void tst_EmployeeDocument::manyRows()
{
    std::vector<Employee> nonSelected, selected;
    for (int id = 1; id <= 32767; ++id)
        (id % 3 ? nonSelected : selected).push_back({id, "Employee " + std::to_string(id)});
    pugi::xml_document doc;
    QVERIFY(doc.load_string(writeEmployeeDocument(nonSelected, selected).c_str()));
    const pugi::xml_node root = doc.document_element();
    QCOMPARE(childCount(child(root, 1)), int(nonSelected.size()));
    QCOMPARE(childCount(child(root, 2)), int(selected.size()));
    QCOMPARE(QString::fromUtf8(child(child(root, 2).last_child(), 1).first_child().value()),
             QStringLiteral("Employee 32766"));
}

QTEST_APPLESS_MAIN(tst_EmployeeDocument)
#include "tst_employeedocument.moc"
