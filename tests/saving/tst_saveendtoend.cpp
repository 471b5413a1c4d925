// The save against the reference server: a real server process on a temporary SQLite database,
// the control loaded from it, employees moved both ways, the commit, and then the database read
// directly.

#include "ServerProcess.h"
#include "TestDatabase.h"
#include "control/VendorEmployee_p.h"
#include "editing/ChangeCode.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace KavriVendorEmp;
using namespace kvetest;
using platform::ListView;

namespace {

QList<qint64> idsOf(ListView *list)
{
    QList<qint64> ids;
    for (int i = 1; i <= list->Count(); ++i)
        ids.append(list->Item(i).Text().toLongLong());
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool allUnchanged(ListView *list)
{
    for (int i = 1; i <= list->Count(); ++i) {
        if (!ChangeCode::isNumeric(list->Item(i).SubItems(2)))
            return false;
    }
    return true;
}

} // namespace

class tst_SaveEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void commitStoresExactlyTheEdits();
    void refusedPostChangesNothing();

private:
    QList<qint64> linksOf(qint64 vendor);
    void load(const QString &vendor);
    // Moves one employee the way the user does: select the row, then ">" or "<".
    void moveRight(const QString &id);
    void moveLeft(const QString &id);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<VendorEmployee> m_control;
    VendorEmployeePrivate *d = nullptr;
};

void tst_SaveEndToEnd::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY2(m_db->create(TestDatabase::Kind::Sqlite), qPrintable(m_db->error()));
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start({u"--database"_qs, m_db->serverArgument(), u"--seed"_qs, u"demo"_qs}),
             qPrintable(m_server->log()));
    m_control = std::make_unique<VendorEmployee>();
    d = VendorEmployeePrivate::get(m_control.get());
}

void tst_SaveEndToEnd::cleanup()
{
    m_control.reset();
    m_server.reset();
    m_db.reset();
}

QList<qint64> tst_SaveEndToEnd::linksOf(qint64 vendor)
{
    const QVariant list = m_db->scalar(
        u"SELECT group_concat(EmployeeID, ',') FROM (SELECT EmployeeID FROM "
        "VendorEmployeeCrossReference WHERE VendorID = %1 ORDER BY EmployeeID)"_qs.arg(vendor));
    QList<qint64> ids;
    for (const QString &id : list.toString().split(u',', Qt::SkipEmptyParts))
        ids.append(id.toLongLong());
    return ids;
}

void tst_SaveEndToEnd::load(const QString &vendor)
{
    m_control->setVendorID(vendor);
    m_control->setServerName(m_server->url());
    QVERIFY2(d->lstEmployees->Count() > 0, "nothing loaded");
}

void tst_SaveEndToEnd::moveRight(const QString &id)
{
    platform::ListItem row = d->lstEmployees->FindItem(id);
    QVERIFY2(row, qPrintable(id));
    row.setSelected(true);
    d->cmdAdd_Click();
    QVERIFY2(d->lstSelectedEmployees->FindItem(id), qPrintable(id));
}

void tst_SaveEndToEnd::moveLeft(const QString &id)
{
    platform::ListItem row = d->lstSelectedEmployees->FindItem(id);
    QVERIFY2(row, qPrintable(id));
    row.setSelected(true);
    d->cmdDelete_Click();
    QVERIFY2(d->lstEmployees->FindItem(id), qPrintable(id));
}

void tst_SaveEndToEnd::commitStoresExactlyTheEdits()
{
    // The demo database links vendor 17 to 150, 152, ..., 166 (162 inactive).
    const QList<qint64> before = linksOf(17);
    QCOMPARE(before, (QList<qint64>{150, 152, 154, 156, 158, 160, 162, 164, 166}));
    const QList<qint64> otherVendor = linksOf(12);

    load(u"17"_qs);
    QCOMPARE(idsOf(d->lstSelectedEmployees), before);
    for (const char *id : {"101", "120", "299"})
        moveRight(QString::fromLatin1(id));
    for (const char *id : {"150", "166"})
        moveLeft(QString::fromLatin1(id));
    // There and back again: no change.
    moveRight(u"200"_qs);
    moveLeft(u"200"_qs);
    moveLeft(u"152"_qs);
    moveRight(u"152"_qs);

    MessageBoxWatcher boxes;
    QVERIFY(d->cmdCommit->isEnabled());
    d->cmdCommit->click();

    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, u"3 employees linked, 2 unlinked."_qs);
    QCOMPARE(boxes.boxes().first().icon, int(QMessageBox::Information));

    const QList<qint64> expected{101, 120, 152, 154, 156, 158, 160, 162, 164, 299};
    QCOMPARE(linksOf(17), expected);
    QCOMPARE(linksOf(12), otherVendor);

    // The reload shows what the database holds, every row unchanged.
    QCOMPARE(idsOf(d->lstSelectedEmployees), expected);
    QVERIFY(allUnchanged(d->lstSelectedEmployees));
    QVERIFY(allUnchanged(d->lstEmployees));
    for (const char *id : {"150", "166", "200"})
        QVERIFY2(d->lstEmployees->FindItem(QString::fromLatin1(id)), id);
}

void tst_SaveEndToEnd::refusedPostChangesNothing()
{
    const QList<qint64> before = linksOf(17);
    load(u"17"_qs);
    moveRight(u"101"_qs);
    // An employee the server does not know: it refuses the whole post, and says so by its status.
    platform::ListItem unknown = d->lstSelectedEmployees->Add(u"999999"_qs);
    unknown.setSubItems(2, u"999999N"_qs);

    MessageBoxWatcher boxes;
    d->cmdCommit->click();

    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, u"Error During saving to Database"_qs);
    QCOMPARE(linksOf(17), before);
    // No reload after a failed save: the edits still show, to be mended and committed again.
    QVERIFY(d->lstSelectedEmployees->FindItem(u"101"_qs));
    QCOMPARE(d->lstSelectedEmployees->FindItem(u"999999"_qs).SubItems(2), u"999999N"_qs);
}

QTEST_MAIN(tst_SaveEndToEnd)
#include "tst_saveendtoend.moc"
