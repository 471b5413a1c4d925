// The control against the reference server: a real server process on a SQLite database, the
// control driven through its public members and its widgets.

#include "ServerProcess.h"
#include "TestDatabase.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QAbstractItemModel>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <algorithm>

using namespace kvetest;
using KavriVendorEmp::VendorEmployee;

namespace {

struct Row
{
    QString id;
    QString name;
    bool operator<(const Row &o) const { return id.toLongLong() < o.id.toLongLong(); }
    bool operator==(const Row &) const = default;
};

QList<Row> rowsOf(const QTreeView *list)
{
    QList<Row> rows;
    const QAbstractItemModel *model = list->model();
    for (int r = 0; r < model->rowCount(); ++r)
        rows.append({model->index(r, 0).data().toString(), model->index(r, 1).data().toString()});
    return rows;
}

QList<Row> sorted(QList<Row> rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The two lists of the server's document, read with the test's own simple reading.
void documentRows(quint16 port, qint64 vendor, QList<Row> &nonSelected, QList<Row> &selected)
{
    const HttpReply reply =
        httpRequest(port, "GET", "/VendorEmployee.asp?VendorID=" + QByteArray::number(vendor));
    const QString xml = QString::fromUtf8(reply.body);
    static const QRegularExpression record(
        QStringLiteral("<Employee><ID>([^<]*)</ID><Name>([^<]*)</Name></Employee>"));
    const qsizetype selectedFrom = xml.indexOf(QStringLiteral("<SelectedEmployees>"));
    for (auto it = record.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        QString name = m.captured(2);
        name.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        (m.capturedStart() > selectedFrom ? selected : nonSelected).append({m.captured(1), name});
    }
}

int rowOf(const QTreeView *list, const QString &id)
{
    const QAbstractItemModel *model = list->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->index(r, 0).data().toString() == id)
            return r;
    }
    return -1;
}

} // namespace

class tst_ControlAgainstServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadShowsTheVendorsEmployees_data();
    void loadShowsTheVendorsEmployees();
    void unknownVendorLeavesTheListsEmpty();
    void commitLinksAndReloads();

private:
    TestDatabase m_db;
    ServerProcess m_server;
};

void tst_ControlAgainstServer::initTestCase()
{
    QVERIFY2(m_db.create(TestDatabase::Kind::Sqlite), qPrintable(m_db.error()));
    QVERIFY2(m_server.start({QStringLiteral("--database"), m_db.serverArgument(),
                             QStringLiteral("--seed"), QStringLiteral("demo")}),
             qPrintable(m_server.log()));
}

void tst_ControlAgainstServer::loadShowsTheVendorsEmployees_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::newRow("vendor 12") << QStringLiteral("12");
    QTest::newRow("vendor 17, blanks around") << QStringLiteral(" 17 ");
    QTest::newRow("negative vendor") << QStringLiteral("-5");
}

void tst_ControlAgainstServer::loadShowsTheVendorsEmployees()
{
    QFETCH(QString, vendor);
    VendorEmployee control;
    control.show();
    control.setVendorID(vendor);
    control.setServerName(m_server.url());

    auto *all = control.findChild<QTreeView *>(QStringLiteral("lstEmployees"));
    auto *chosen = control.findChild<QTreeView *>(QStringLiteral("lstSelectedEmployees"));
    QVERIFY(all && chosen);
    QList<Row> nonSelected, selected;
    documentRows(m_server.port(), vendor.trimmed().toLongLong(), nonSelected, selected);
    QVERIFY(!nonSelected.isEmpty());
    QVERIFY2(all->model()->rowCount() > 0, "the control shows no employee: is its load built yet?");
    QCOMPARE(sorted(rowsOf(all)), sorted(nonSelected));
    QCOMPARE(sorted(rowsOf(chosen)), sorted(selected));
    QCOMPARE(control.findChild<QLabel *>(QStringLiteral("lblAllVendors"))->text(),
             QStringLiteral("Non Selected Active Employees (%1):").arg(nonSelected.size()));
    QCOMPARE(control.findChild<QLabel *>(QStringLiteral("lblSelVendors"))->text(),
             QStringLiteral("Selected Employees (%1):").arg(selected.size()));
}

void tst_ControlAgainstServer::unknownVendorLeavesTheListsEmpty()
{
    MessageBoxWatcher boxes;
    VendorEmployee control;
    control.show();
    control.setVendorID(QStringLiteral("12"));
    control.setServerName(m_server.url());
    auto *all = control.findChild<QTreeView *>(QStringLiteral("lstEmployees"));
    QVERIFY(all->model()->rowCount() > 0);
    // The server answers 404 for a vendor it does not hold; the control's load fails silently.
    control.setVendorID(QStringLiteral("99"));
    control.setServerName(m_server.url());
    QCOMPARE(all->model()->rowCount(), 0);
    QCOMPARE(
        control.findChild<QTreeView *>(QStringLiteral("lstSelectedEmployees"))->model()->rowCount(),
        0);
    QCOMPARE(boxes.boxes().size(), 0);
}

void tst_ControlAgainstServer::commitLinksAndReloads()
{
    MessageBoxWatcher boxes;
    VendorEmployee control;
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.setVendorID(QStringLiteral("40"));
    control.setServerName(m_server.url());
    auto *all = control.findChild<QTreeView *>(QStringLiteral("lstEmployees"));
    auto *chosen = control.findChild<QTreeView *>(QStringLiteral("lstSelectedEmployees"));
    const int before = chosen->model()->rowCount();
    QVERIFY(before > 0);

    // Pick employee 104 and move it across with ">".
    const int row = rowOf(all, QStringLiteral("104"));
    QVERIFY(row >= 0);
    const QModelIndex index = all->model()->index(row, 0);
    all->scrollTo(index);
    QTest::mouseClick(all->viewport(), Qt::LeftButton, {}, all->visualRect(index).center());
    auto *add = control.findChild<QPushButton *>(QStringLiteral("cmdAdd"));
    QVERIFY(add->isEnabled());
    QTest::mouseClick(add, Qt::LeftButton);
    QVERIFY(rowOf(chosen, QStringLiteral("104")) >= 0);

    auto *commit = control.findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    QVERIFY(commit->isEnabled());
    QTest::mouseClick(commit, Qt::LeftButton);

    // The server's summary is shown, and the lists are what the server now holds.
    QTRY_COMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, QStringLiteral("1 employee linked, 0 unlinked."));
    QCOMPARE(boxes.boxes().first().title, QStringLiteral("Vendor Employee Cross Reference"));
    QTRY_COMPARE(chosen->model()->rowCount(), before + 1);
    QList<Row> nonSelected, selected;
    documentRows(m_server.port(), 40, nonSelected, selected);
    QCOMPARE(sorted(rowsOf(chosen)), sorted(selected));
    QVERIFY(std::any_of(selected.begin(), selected.end(),
                        [](const Row &r) { return r.id == QStringLiteral("104"); }));
    QCOMPARE(m_db.scalar(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                        "WHERE VendorID = 40 AND EmployeeID = 104")),
             QVariant(qint64(1)));
}

QTEST_MAIN(tst_ControlAgainstServer)
#include "tst_controlagainstserver.moc"
