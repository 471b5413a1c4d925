#include "control/VendorEmployee_p.h"
#include "platform/Widgets.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace KavriVendorEmp;
using kvetest::employeeDocument;
using Employees = QList<QPair<QString, QString>>;

namespace {

const QString page = QStringLiteral("/VendorEmployee.asp");
const QString designAllLabel = QStringLiteral("Non Selected Active Empolyees:");
const QString designSelLabel = QStringLiteral("Selected Empolyees:");

// Every row as "ID|name|code", in the list's current order.
QStringList rowsOf(ListView *list)
{
    QStringList rows;
    for (int i = 1; i <= list->Count(); ++i) {
        const ListItem row = list->Item(i);
        rows << row.Text() + u'|' + row.SubItems(1) + u'|' + row.SubItems(2);
    }
    return rows;
}

Employees numbered(int first, int count)
{
    Employees employees;
    employees.reserve(count);
    for (int id = first; id < first + count; ++id)
        employees.append({QString::number(id), QStringLiteral("Employee %1").arg(id)});
    return employees;
}

const Employees nonSelected = {{QStringLiteral("42"), QStringLiteral("Ann Able")},
                               {QStringLiteral("7"), QStringLiteral("Bob Baker")},
                               {QStringLiteral("1234567"), QStringLiteral("Cy Cole")}};
const Employees selected = {{QStringLiteral("000015"), QStringLiteral("Di Dunn")},
                            {QStringLiteral("-5"), QStringLiteral("Ed <&> Eve")}};
// In the order of their codes, which is the order the lists sort by after a load.
const QStringList nonSelectedRows = {QStringLiteral("7|Bob Baker|000007"),
                                     QStringLiteral("42|Ann Able|000042"),
                                     QStringLiteral("1234567|Cy Cole|1234567")};
const QStringList selectedRows = {QStringLiteral("-5|Ed <&> Eve|-000005"),
                                  QStringLiteral("000015|Di Dunn|000015")};

// The same document as employeeDocument(3, 2, nonSelected, selected), indented.
const QByteArray prettyDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                  "<VendorEmployees>\r\n"
                                  "  <Counts>\r\n"
                                  "    <Count>\r\n"
                                  "      <NonSelected>3</NonSelected>\r\n"
                                  "      <Selected>2</Selected>\r\n"
                                  "    </Count>\r\n"
                                  "  </Counts>\r\n"
                                  "  <NonSelected>\r\n"
                                  "    <Employee>\r\n"
                                  "      <ID>42</ID>\r\n"
                                  "      <Name>Ann Able</Name>\r\n"
                                  "    </Employee>\r\n"
                                  "    <Employee>\n\t<ID>7</ID>\n\t<Name>Bob Baker</Name>\n"
                                  "    </Employee>\n"
                                  "    <Employee><ID>1234567</ID><Name>Cy Cole</Name></Employee>\n"
                                  "  </NonSelected>\n"
                                  "  <Selected>\n"
                                  "    <Employee>\n"
                                  "      <ID>000015</ID>\n"
                                  "      <Name>Di Dunn</Name>\n"
                                  "    </Employee>\n"
                                  "    <Employee>\n"
                                  "      <ID>-5</ID>\n"
                                  "      <Name>Ed &lt;&amp;&gt; Eve</Name>\n"
                                  "    </Employee>\n"
                                  "  </Selected>\n"
                                  "</VendorEmployees>\n";

} // namespace

class tst_LoadEmployees : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void requestUrl_data();
    void requestUrl();
    void refusedVendorIDKeepsTheStoredOne();
    void commitReloadKeepsTheStoredServerName();
    void completeLoad();
    void progressDuringTheLoad_data();
    void progressDuringTheLoad();
    void progressOfALargeLoad();
    void countsDifferFromRecords();
    void emptyNonSelectedSection();
    void failure_data();
    void failure();
    void incompleteRowKeepsItsIdOnly();
    void prettyPrintedLoadsLikeCompact();
    void secondLoadDiscardsMovedRows();
    void trimmedFields();
    void loadReachesTheViewAsOneUpdate();

private:
    template <typename T = QWidget> T *child(const char *name) const
    {
        T *widget = m_control->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    ListView *lstEmployees() const { return child<ListView>("lstEmployees"); }
    ListView *lstSelectedEmployees() const { return child<ListView>("lstSelectedEmployees"); }
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
    QProgressBar *prbLoad() const { return child<QProgressBar>("prbLoad"); }
    VendorEmployeePrivate *d() const { return VendorEmployeePrivate::get(m_control.get()); }
    QString lastTarget() const
    {
        const auto requests = m_server->requests();
        return requests.isEmpty() ? QString() : QString::fromLatin1(requests.last().target);
    }
    // The find controls a load enables: both find options and the ID box.
    bool findControlsEnabled() const;
    // The row at `position` moved as a user moves it: a click on it, then the button.
    void moveRow(ListView *from, int position, QPushButton *button);

    std::unique_ptr<kvetest::FixtureServer> m_server;
    std::unique_ptr<VendorEmployee> m_control;
    std::unique_ptr<kvetest::MessageBoxWatcher> m_boxes;
};

void tst_LoadEmployees::init()
{
    m_server = std::make_unique<kvetest::FixtureServer>();
    m_control = std::make_unique<VendorEmployee>();
    m_boxes = std::make_unique<kvetest::MessageBoxWatcher>();
}

void tst_LoadEmployees::cleanup()
{
    QVERIFY2(m_boxes->boxes().isEmpty(), "a load showed a message");
    m_boxes.reset();
    m_control.reset();
    m_server.reset();
}

bool tst_LoadEmployees::findControlsEnabled() const
{
    const auto *box = child<QLineEdit>("txtVendorID");
    const bool on = child<QRadioButton>("optFind(0)")->isEnabled();
    if (child<QRadioButton>("optFind(1)")->isEnabled() != on || box->isEnabled() != on ||
        box->isReadOnly() == on)
        qFatal("find controls in a mixed state");
    const QColor expected = QApplication::palette().color(on ? QPalette::Base : QPalette::Button);
    if (box->palette().color(QPalette::Base) != expected)
        qFatal("txtVendorID has the wrong background colour");
    return on;
}

void tst_LoadEmployees::moveRow(ListView *from, int position, QPushButton *button)
{
    m_control->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
    const QModelIndex index = from->model()->index(position - 1, 1);
    QTest::mouseClick(from->viewport(), Qt::LeftButton, {}, from->visualRect(index).center());
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

void tst_LoadEmployees::requestUrl_data()
{
    QTest::addColumn<QStringList>("vendorIDs"); // put in this order before the server name
    QTest::addColumn<QString>("suffix");        // appended to the fixture's base URL
    QTest::addColumn<QString>("target");

    QTest::newRow("vendor 17") << QStringList{QStringLiteral("17")} << QString()
                               << "/VendorEmployee.asp?VendorID=17";
    QTest::newRow("vendor -5") << QStringList{QStringLiteral("-5")} << QString()
                               << "/VendorEmployee.asp?VendorID=-5";
    QTest::newRow("no vendor set")
        << QStringList() << QString() << "/VendorEmployee.asp?VendorID=0";
    QTest::newRow("blanks and zeros")
        << QStringList{QStringLiteral(" 0017 ")} << QString() << "/VendorEmployee.asp?VendorID=17";
    QTest::newRow("last vendor wins")
        << QStringList{QStringLiteral("3"), QStringLiteral("2147483647")} << QString()
        << "/VendorEmployee.asp?VendorID=2147483647";
    QTest::newRow("lowest vendor") << QStringList{QStringLiteral("-2147483648")} << QString()
                                   << "/VendorEmployee.asp?VendorID=-2147483648";
    // The server name is used as given: nothing added, removed or encoded.
    QTest::newRow("path prefix") << QStringList{QStringLiteral("17")} << "/app"
                                 << "/app/VendorEmployee.asp?VendorID=17";
    QTest::newRow("escapes kept") << QStringList{QStringLiteral("17")} << "/a%20b"
                                  << "/a%20b/VendorEmployee.asp?VendorID=17";
    QTest::newRow("query in the server name") << QStringList{QStringLiteral("17")} << "/x?y=1"
                                              << "/x?y=1/VendorEmployee.asp?VendorID=17";
}

void tst_LoadEmployees::requestUrl()
{
    QFETCH(QStringList, vendorIDs);
    QFETCH(QString, suffix);
    QFETCH(QString, target);
    m_server->setFallback([](const kvetest::FixtureServer::Request &) {
        kvetest::FixtureServer::Response response;
        response.contentType = "text/xml; charset=utf-8";
        response.body = employeeDocument(0, 0, {}, {}).toStdString();
        return response;
    });

    for (const QString &vendorID : vendorIDs)
        m_control->setVendorID(vendorID);
    m_control->setServerName(m_server->baseUrl() + suffix);

    QCOMPARE(m_server->requestCount(), 1);
    const kvetest::FixtureServer::Recorded request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(QString::fromLatin1(request.target), target);
    QVERIFY(request.body.isEmpty());
}

void tst_LoadEmployees::refusedVendorIDKeepsTheStoredOne()
{
    m_server->serveXml(page, employeeDocument(0, 0, {}, {}));
    m_control->setVendorID(QStringLiteral("17"));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, m_control->setVendorID(QStringLiteral("abc")));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, m_control->setVendorID(QString()));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range,
                             m_control->setVendorID(QStringLiteral("2147483648")));
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(lastTarget(), QStringLiteral("/VendorEmployee.asp?VendorID=17"));
}

void tst_LoadEmployees::commitReloadKeepsTheStoredServerName()
{
    // The page answers the load with the document and the save with an empty reply.
    const QByteArray document = employeeDocument(3, 2, nonSelected, selected);
    m_server->serve(QStringLiteral("/app") + page,
                    [document](const kvetest::FixtureServer::Request &request) {
                        kvetest::FixtureServer::Response response;
                        if (request.method == "GET") {
                            response.contentType = "text/xml; charset=utf-8";
                            response.body = document.toStdString();
                        }
                        return response;
                    });
    m_control->setVendorID(QStringLiteral("17"));
    m_control->setServerName(m_server->baseUrl() + QStringLiteral("/app"));
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);

    // Employee 7 moved right by ">".
    moveRow(lstEmployees(), 1, child<QPushButton>("cmdAdd"));
    QVERIFY(lstSelectedEmployees()->FindItem(QStringLiteral("7")));

    // A vendor set after the load names the vendor of the reload that follows the commit; the
    // edits on screen still belong to the vendor they were loaded for.
    m_control->setVendorID(QStringLiteral("18"));
    QTest::mouseClick(child<QPushButton>("cmdCommit"), Qt::LeftButton);

    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests[1].method, QByteArray("POST"));
    const QString posted =
        QUrl::fromPercentEncoding(QByteArray(requests[1].body).replace('+', ' '));
    QVERIFY2(posted.contains(u"VALUES (17,7,"), qPrintable(posted));
    QCOMPARE(requests[2].method, QByteArray("GET"));
    QCOMPARE(QString::fromLatin1(requests[2].target),
             QStringLiteral("/app/VendorEmployee.asp?VendorID=18"));
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);

    // A further ServerName loads for the vendor now stored.
    m_control->setServerName(m_server->baseUrl() + QStringLiteral("/app"));
    QCOMPARE(m_server->requestCount(), 4);
    QCOMPARE(lastTarget(), QStringLiteral("/app/VendorEmployee.asp?VendorID=18"));
}

void tst_LoadEmployees::completeLoad()
{
    m_server->serveXml(page, employeeDocument(3, 2, nonSelected, selected));
    m_control->setVendorID(QStringLiteral("12"));
    m_control->setServerName(m_server->baseUrl());

    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);
    QCOMPARE(label("lblAllVendors"), QStringLiteral("Non Selected Active Employees (3):"));
    QCOMPARE(label("lblSelVendors"), QStringLiteral("Selected Employees (2):"));
    QCOMPARE(d()->m_nonSelectedCount, 3);
    QCOMPARE(d()->m_selectedCount, 2);
    QCOMPARE(d()->m_progressCounter, 5);
    QVERIFY(!d()->m_document);
    QCOMPARE(prbLoad()->maximum(), 5);
    QCOMPARE(prbLoad()->value(), 0);

    for (ListView *list : {lstEmployees(), lstSelectedEmployees()}) {
        QCOMPARE(list->SortKey(), 2);
        QCOMPARE(list->SortOrder(), 0);
        for (int i = 1; i <= list->Count(); ++i)
            QVERIFY2(!list->Item(i).Selected(), qPrintable(list->Item(i).Text()));
        QVERIFY(list->selectionModel()->selectedIndexes().isEmpty());
    }

    QVERIFY(findControlsEnabled());
    QVERIFY(child<QRadioButton>("optList(0)")->isEnabled());
    QVERIFY(child<QRadioButton>("optList(1)")->isEnabled());
    // Which option of each pair is chosen is not the load's business.
    QVERIFY(child<QRadioButton>("optList(0)")->isChecked());
    QVERIFY(child<QRadioButton>("optFind(1)")->isChecked());
    // Left as designed.
    const auto *name = child<QLineEdit>("txtVendorName");
    QVERIFY(name->isEnabled() && name->isReadOnly());
    QCOMPARE(name->palette().color(QPalette::Base),
             QApplication::palette().color(QPalette::Button));
    for (const char *button :
         {"cmdCommit", "cmdFind", "cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll"})
        QVERIFY2(!child(button)->isEnabled(), button);
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
}

void tst_LoadEmployees::progressDuringTheLoad_data()
{
    QTest::addColumn<int>("nonSelectedCount");
    QTest::addColumn<int>("selectedCount");
    QTest::addColumn<QList<int>>("values"); // every value the bar takes, in order

    QTest::newRow("counts match the records") << 3 << 2 << QList<int>{1, 2, 3, 4, 5, 0};
    QTest::newRow("counts above the records") << 10 << 1 << QList<int>{1, 2, 3, 4, 11, 0};
    // Never above the maximum: rows beyond the counts hold the bar full.
    QTest::newRow("counts below the records") << 1 << 1 << QList<int>{1, 2, 0};
    QTest::newRow("both counts 0") << 0 << 0 << QList<int>{};
}

void tst_LoadEmployees::progressDuringTheLoad()
{
    QFETCH(int, nonSelectedCount);
    QFETCH(int, selectedCount);
    QFETCH(QList<int>, values);
    m_server->serveXml(page,
                       employeeDocument(nonSelectedCount, selectedCount, nonSelected, selected));

    QList<int> seen;
    QList<int> pointers;
    connect(prbLoad(), &QProgressBar::valueChanged, this, [&](int value) {
        seen << value;
        pointers << platform::mousePointer(m_control.get());
    });
    m_control->setServerName(m_server->baseUrl());

    QCOMPARE(seen, values);
    QCOMPARE(prbLoad()->maximum(), nonSelectedCount + selectedCount);
    // The hourglass shows for the whole load, the final reset included; then the default.
    QCOMPARE(pointers, QList<int>(values.size(), platform::vbHourglass));
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
    QCOMPARE(lstEmployees()->Count() + lstSelectedEmployees()->Count(), 5);
}

void tst_LoadEmployees::progressOfALargeLoad()
{
    m_server->serveXml(page, employeeDocument(2000, 1000, numbered(1, 2000), numbered(5001, 1000)));
    QList<int> seen;
    connect(prbLoad(), &QProgressBar::valueChanged, this, [&](int value) { seen << value; });
    m_control->setServerName(m_server->baseUrl());

    QVERIFY(seen.size() >= 2);
    QCOMPARE(seen.last(), 0);
    seen.removeLast();
    QCOMPARE(seen.last(), 3000);
    // The bar moves on in steps no wider than a pixel of it, and never back.
    const int stepLimit = 3000 / prbLoad()->width() + 1;
    int previous = 0;
    for (int value : seen) {
        QVERIFY2(value > previous && value - previous <= stepLimit,
                 qPrintable(QString::number(value)));
        previous = value;
    }
    // The last row of the first section leaves its exact value.
    QVERIFY(seen.contains(1999));
}

void tst_LoadEmployees::countsDifferFromRecords()
{
    m_server->serveXml(page, employeeDocument(250, 9, nonSelected, {}));
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(label("lblAllVendors"), QStringLiteral("Non Selected Active Employees (250):"));
    QCOMPARE(label("lblSelVendors"), QStringLiteral("Selected Employees (9):"));
    QCOMPARE(d()->m_nonSelectedCount, 250);
    QCOMPARE(d()->m_selectedCount, 9);
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(lstSelectedEmployees()->Count(), 0);
    QCOMPARE(prbLoad()->maximum(), 259);
    QCOMPARE(prbLoad()->value(), 0);
}

void tst_LoadEmployees::emptyNonSelectedSection()
{
    m_server->serveXml(page, employeeDocument(0, 2, {}, selected));
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(lstEmployees()->Count(), 0);
    QVERIFY(child<QRadioButton>("optList(0)")->isEnabled());
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);
    QVERIFY(!lstSelectedEmployees()->Item(1).Selected());
    QVERIFY(!lstSelectedEmployees()->Item(2).Selected());
    QVERIFY(findControlsEnabled());
}

void tst_LoadEmployees::failure_data()
{
    QTest::addColumn<QString>("how"); // "xml": serve body with status; "down"; "empty name"
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("priorLoad"); // a complete load of another document first
    QTest::addColumn<int>("nonSelectedRows");
    QTest::addColumn<int>("selectedRows");
    QTest::addColumn<QString>("allLabel");
    QTest::addColumn<QString>("selLabel");
    QTest::addColumn<int>("nonSelectedCount");
    QTest::addColumn<int>("selectedCount");
    QTest::addColumn<bool>("findEnabled");
    QTest::addColumn<bool>("selectedOptionEnabled");
    QTest::addColumn<int>("barValue");
    QTest::addColumn<int>("barMaximum");

    const QString all3 = QStringLiteral("Non Selected Active Employees (3):");
    const QString sel2 = QStringLiteral("Selected Employees (2):");
    const QByteArray good = employeeDocument(3, 2, nonSelected, selected);

    QTest::newRow("not XML") << "xml" << QByteArray("<html><body>Server error</body>") << 200
                             << false << 0 << 0 << designAllLabel << designSelLabel << 0 << 0
                             << false << false << 0 << 100;
    QTest::newRow("not XML after a load")
        << "xml" << QByteArray("Server error") << 200 << true << 0 << 0
        << QStringLiteral("Non Selected Active Employees (9):")
        << QStringLiteral("Selected Employees (8):") << 9 << 8 << true << true << 0 << 17;
    QTest::newRow("HTTP 500 with a document")
        << "xml" << good << 500 << false << 0 << 0 << designAllLabel << designSelLabel << 0 << 0
        << false << false << 0 << 100;
    QTest::newRow("HTTP 404") << "xml" << good << 404 << false << 0 << 0 << designAllLabel
                              << designSelLabel << 0 << 0 << false << false << 0 << 100;
    QTest::newRow("server down") << "down" << QByteArray() << 0 << false << 0 << 0 << designAllLabel
                                 << designSelLabel << 0 << 0 << false << false << 0 << 100;
    QTest::newRow("empty server name")
        << "empty name" << QByteArray() << 0 << false << 0 << 0 << designAllLabel << designSelLabel
        << 0 << 0 << false << false << 0 << 100;
    QTest::newRow("empty root") << "xml" << QByteArray("<Root/>") << 200 << false << 0 << 0
                                << designAllLabel << designSelLabel << 0 << 0 << false << false << 0
                                << 100;
    QTest::newRow("missing selected count")
        << "xml" << QByteArray("<R><C><K><N>3</N></K></C><S><E><I>1</I><M>A</M></E></S><S/></R>")
        << 200 << false << 0 << 0 << designAllLabel << designSelLabel << 3 << 0 << false << false
        << 0 << 100;
    QTest::newRow("count not a number")
        << "xml" << employeeDocument(3, 2, {}, {}).replace("<NonSelected>3<", "<NonSelected>three<")
        << 200 << false << 0 << 0 << designAllLabel << designSelLabel << 0 << 0 << false << false
        << 0 << 100;
    QTest::newRow("count of 40000")
        << "xml" << employeeDocument(40000, 2, nonSelected, selected) << 200 << false << 0 << 0
        << designAllLabel << designSelLabel << 0 << 0 << false << false << 0 << 100;
    QTest::newRow("selected count of 40000")
        << "xml" << employeeDocument(3, 40000, nonSelected, selected) << 200 << false << 0 << 0
        << designAllLabel << designSelLabel << 3 << 0 << false << false << 0 << 100;
    QTest::newRow("20000 + 20000")
        << "xml" << employeeDocument(20000, 20000, nonSelected, selected) << 200 << false << 0 << 0
        << designAllLabel << designSelLabel << 20000 << 20000 << false << false << 0 << 100;
    QTest::newRow("negative progress maximum")
        << "xml" << employeeDocument(-3, 1, nonSelected, selected) << 200 << false << 0 << 0
        << designAllLabel << designSelLabel << -3 << 1 << false << false << 0 << 100;
    QTest::newRow("missing selected section")
        << "xml"
        << QByteArray(good).replace(
               good.indexOf("<Selected><Employee>"),
               good.indexOf("</VendorEmployees>") - good.indexOf("<Selected><Employee>"), "")
        << 200 << false << 3 << 0 << all3 << sel2 << 3 << 2 << true << false << 2 << 5;
    QTest::newRow("missing non-selected section")
        << "xml" << QByteArray("<R><C><K><N>3</N><S>2</S></K></C></R>") << 200 << false << 0 << 0
        << all3 << sel2 << 3 << 2 << false << false << 0 << 5;
    QTest::newRow("empty name field mid-section")
        << "xml"
        << employeeDocument(4, 2, numbered(1, 2) + Employees{{"3", ""}} + numbered(4, 1), selected)
        << 200 << false << 3 << 0 << QStringLiteral("Non Selected Active Employees (4):") << sel2
        << 4 << 2 << false << false << 1 << 6;
    QTest::newRow("empty ID field in the selected section")
        << "xml"
        << employeeDocument(3, 2, nonSelected, selected).replace("<ID>-5</ID>", "<ID></ID>") << 200
        << false << 3 << 1 << all3 << sel2 << 3 << 2 << true << false << 3 << 5;
    QTest::newRow("record without a name field")
        << "xml" << QByteArray(good).replace("<Name>Bob Baker</Name>", "") << 200 << false << 2 << 0
        << all3 << sel2 << 3 << 2 << false << false << 0 << 5;
    // 32,768 rows: the last one is added in full before the counter overflows.
    QTest::newRow("more than 32767 rows")
        << "xml" << employeeDocument(16384, 16383, numbered(1, 16384), numbered(100001, 16384))
        << 200 << false << 16384 << 16384
        << QStringLiteral("Non Selected Active Employees (16384):")
        << QStringLiteral("Selected Employees (16383):") << 16384 << 16383 << true << false << 32767
        << 32767;
}

void tst_LoadEmployees::failure()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, priorLoad);
    QFETCH(int, nonSelectedRows);
    QFETCH(int, selectedRows);
    QFETCH(QString, allLabel);
    QFETCH(QString, selLabel);
    QFETCH(int, nonSelectedCount);
    QFETCH(int, selectedCount);
    QFETCH(bool, findEnabled);
    QFETCH(bool, selectedOptionEnabled);
    QFETCH(int, barValue);
    QFETCH(int, barMaximum);

    if (priorLoad) {
        m_server->serveXml(QStringLiteral("/prior") + page,
                           employeeDocument(9, 8, nonSelected, selected));
        m_control->setServerName(m_server->url(QStringLiteral("/prior")));
        QCOMPARE(lstEmployees()->Count(), 3);
    }

    QString serverName = m_server->baseUrl();
    if (how == u"down") {
        m_server->stop();
    } else if (how == u"empty name") {
        serverName.clear();
    } else if (status == 200) {
        m_server->serveXml(page, body);
    } else {
        m_server->serveText(page, body, status);
    }

    m_control->setVendorID(QStringLiteral("17"));
    m_control->setServerName(serverName);

    QCOMPARE(lstEmployees()->Count(), nonSelectedRows);
    QCOMPARE(lstSelectedEmployees()->Count(), selectedRows);
    QCOMPARE(label("lblAllVendors"), allLabel);
    QCOMPARE(label("lblSelVendors"), selLabel);
    QCOMPARE(d()->m_nonSelectedCount, nonSelectedCount);
    QCOMPARE(d()->m_selectedCount, selectedCount);
    QCOMPARE(findControlsEnabled(), findEnabled);
    QCOMPARE(child<QRadioButton>("optList(0)")->isEnabled(), findEnabled);
    QCOMPARE(child<QRadioButton>("optList(1)")->isEnabled(), selectedOptionEnabled);
    QCOMPARE(prbLoad()->value(), barValue);
    QCOMPARE(prbLoad()->maximum(), barMaximum);
    // The end of every failed load: silent, pointer back, commit still off, document kept.
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
    QVERIFY(!child("cmdCommit")->isEnabled());
    QVERIFY(d()->m_document);
    QCOMPARE(d()->m_serverName, serverName);
    QCOMPARE(d()->m_loadedVendorID, 17);
}

void tst_LoadEmployees::incompleteRowKeepsItsIdOnly()
{
    m_server->serveXml(
        page,
        employeeDocument(4, 2, numbered(1, 2) + Employees{{"3", ""}} + numbered(4, 1), selected));
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(rowsOf(lstEmployees()),
             (QStringList{QStringLiteral("1|Employee 1|000001"),
                          QStringLiteral("2|Employee 2|000002"), QStringLiteral("3||")}));
    QCOMPARE(lstSelectedEmployees()->Count(), 0);
    QCOMPARE(d()->m_progressCounter, 2);
}

void tst_LoadEmployees::prettyPrintedLoadsLikeCompact()
{
    m_server->serveXml(QStringLiteral("/pretty") + page, prettyDocument);
    m_control->setServerName(m_server->url(QStringLiteral("/pretty")));
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);
    QCOMPARE(label("lblAllVendors"), QStringLiteral("Non Selected Active Employees (3):"));
    QCOMPARE(label("lblSelVendors"), QStringLiteral("Selected Employees (2):"));
    QCOMPARE(prbLoad()->maximum(), 5);
    QVERIFY(!d()->m_document);

    // The compact form gives the same state.
    m_server->serveXml(page, employeeDocument(3, 2, nonSelected, selected));
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);
}

void tst_LoadEmployees::secondLoadDiscardsMovedRows()
{
    m_server->serveXml(page, employeeDocument(3, 2, nonSelected, selected));
    m_control->setServerName(m_server->baseUrl());

    // One row each way, by ">" and "<".
    moveRow(lstEmployees(), 1, child<QPushButton>("cmdAdd"));
    moveRow(lstSelectedEmployees(), 1, child<QPushButton>("cmdDelete"));
    QVERIFY(rowsOf(lstSelectedEmployees()).contains(QStringLiteral("7|Bob Baker|000007N")));
    QVERIFY(child("cmdCommit")->isEnabled());

    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(rowsOf(lstEmployees()), nonSelectedRows);
    QCOMPARE(rowsOf(lstSelectedEmployees()), selectedRows);
    QVERIFY(!child("cmdCommit")->isEnabled());
    QCOMPARE(m_server->requestCount(), 2);
}

void tst_LoadEmployees::trimmedFields()
{
    m_server->serveXml(page, "<R><C><K><N> 1\n</N><S>\t0 </S></K></C>"
                             "<S><E><I>\n  42  \n</I><M>  Ann Able \t</M></E></S><S/></R>");
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(rowsOf(lstEmployees()), QStringList{QStringLiteral("42|Ann Able|000042")});
    QCOMPARE(label("lblAllVendors"), QStringLiteral("Non Selected Active Employees (1):"));
    QCOMPARE(label("lblSelVendors"), QStringLiteral("Selected Employees (0):"));
}

void tst_LoadEmployees::loadReachesTheViewAsOneUpdate()
{
    m_server->serveXml(page, employeeDocument(1000, 1000, numbered(1, 1000), numbered(5001, 1000)));
    QAbstractItemModel *const model = lstEmployees()->model();
    int updates = 0;
    const auto count = [&updates] { ++updates; };
    connect(model, &QAbstractItemModel::rowsInserted, this, count);
    connect(model, &QAbstractItemModel::rowsRemoved, this, count);
    connect(model, &QAbstractItemModel::dataChanged, this, count);
    connect(model, &QAbstractItemModel::layoutChanged, this, count);
    connect(model, &QAbstractItemModel::modelReset, this, count);
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(lstEmployees()->Count(), 1000);
    QCOMPARE(model->rowCount(), 1000);
    QVERIFY2(updates <= 4, qPrintable(QString::number(updates)));
}

QTEST_MAIN(tst_LoadEmployees)
#include "tst_loademployees.moc"
