// vendoremp-server as a process, over real HTTP, on a temporary SQLite database and on a real
// PostgreSQL database. Every row of every test runs on both.

#include "ServerProcess.h"
#include "TestDatabase.h"
#include "support/TlsKit.h"

#include "server/Seed.h"

#include <QtTest>

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

using namespace kvetest;
using vendoremp::server::demoSeed;
using vendoremp::server::SeedData;

namespace {

struct Record
{
    qint64 id;
    QString name;
    bool operator==(const Record &) const = default;
};

struct Document
{
    bool ok = false;
    QString problem;
    QString nonSelectedCount, selectedCount;
    QList<Record> nonSelected, selected;
};

// Reads the document the way the control does: by node position, names never looked at.
Document readDocument(const QByteArray &xml)
{
    Document d;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.constData(), std::size_t(xml.size()))) {
        d.problem = QStringLiteral("not well-formed");
        return d;
    }
    const auto child = [](pugi::xml_node n, int i) {
        pugi::xml_node c = n.first_child();
        while (c && i-- > 0)
            c = c.next_sibling();
        return c;
    };
    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node record = child(child(root, 0), 0);
    d.nonSelectedCount = QString::fromUtf8(child(record, 0).text().get());
    d.selectedCount = QString::fromUtf8(child(record, 1).text().get());
    for (int section = 1; section <= 2; ++section) {
        const pugi::xml_node list = child(root, section);
        if (!list) {
            d.problem = QStringLiteral("section %1 missing").arg(section);
            return d;
        }
        for (pugi::xml_node e = list.first_child(); e; e = e.next_sibling()) {
            const pugi::xml_node id = child(e, 0).first_child();
            const pugi::xml_node name = child(e, 1).first_child();
            if (!id || !name) {
                d.problem = QStringLiteral("an empty field");
                return d;
            }
            Record r{QByteArray(id.value()).toLongLong(), QString::fromUtf8(name.value())};
            (section == 1 ? d.nonSelected : d.selected).append(r);
        }
    }
    d.ok = true;
    return d;
}

bool linked(const SeedData &data, qint64 vendor, qint64 employee)
{
    return std::any_of(data.links.begin(), data.links.end(), [&](const SeedData::Link &l) {
        return l.vendorId == vendor && l.employeeId == employee;
    });
}

// What the document must hold for a vendor of the demo data, worked out from the seed itself.
void expectedLists(qint64 vendor, QList<Record> &nonSelected, QList<Record> &selected)
{
    const SeedData data = demoSeed();
    for (const auto &e : data.employees) {
        const Record r{e.id, QString::fromStdString(e.name)};
        if (linked(data, vendor, e.id))
            selected.append(r);
        else if (e.active)
            nonSelected.append(r);
    }
}

QList<qint64> ids(const QList<Record> &records)
{
    QList<qint64> out;
    for (const Record &r : records)
        out.append(r.id);
    return out;
}

} // namespace

class tst_ServerProcess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void document_data();
    void document();
    void loadRefused_data();
    void loadRefused();
    void linkAndUnlink_data() { backends(); }
    void linkAndUnlink();
    void allOrNothing_data();
    void allOrNothing();
    void runsOfChanges_data();
    void runsOfChanges();
    void refusalNamesTheFirstUnknown_data();
    void refusalNamesTheFirstUnknown();
    void repeatedPostIsHarmless_data() { backends(); }
    void repeatedPostIsHarmless();
    void emptyBodyChangesNothing_data() { backends(); }
    void emptyBodyChangesNothing();
    void bodyLimit_data();
    void bodyLimit();
    void databaseFailureIs500_data() { backends(); }
    void databaseFailureIs500();
    void droppedConnectionsAreReopened_data();
    void droppedConnectionsAreReopened();
    void twoProcessesShareOneDatabase_data() { backends(); }
    void twoProcessesShareOneDatabase();
    void seedLeavesAFilledDatabaseAlone_data() { backends(); }
    void seedLeavesAFilledDatabaseAlone();
    void generatedSeed_data() { backends(); }
    void generatedSeed();
    void stopsCleanlyOnSignal_data();
    void stopsCleanlyOnSignal();
    void refusesBadOptions_data();
    void refusesBadOptions();
    void helpNamesEveryOption();
    void servesTls_data();
    void servesTls();

private:
    static void backends();
    // Starts a server for the current row's backend on a database of its own; skips the row
    // when that backend is not available.
    bool startServer(const QStringList &extra = {QStringLiteral("--seed"), QStringLiteral("demo")});
    qint64 count(const QString &sql);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
};

void tst_ServerProcess::backends()
{
    QTest::addColumn<int>("backend");
    QTest::newRow("sqlite") << int(TestDatabase::Kind::Sqlite);
    QTest::newRow("postgresql") << int(TestDatabase::Kind::Postgres);
}

bool tst_ServerProcess::startServer(const QStringList &extra)
{
    QFETCH(int, backend);
    const auto kind = TestDatabase::Kind(backend);
    m_server.reset(); // before its database goes
    m_db = std::make_unique<TestDatabase>();
    if (kind == TestDatabase::Kind::Postgres && !TestDatabase::postgresUnavailable().isEmpty()) {
        QTest::qSkip(qPrintable(TestDatabase::postgresUnavailable()), __FILE__, __LINE__);
        return false;
    }
    if (!m_db->create(kind)) {
        QTest::qFail(qPrintable(QStringLiteral("cannot create the database: ") + m_db->error()),
                     __FILE__, __LINE__);
        return false;
    }
    m_server = std::make_unique<ServerProcess>();
    if (!m_server->start(QStringList{QStringLiteral("--database"), m_db->serverArgument()} +
                         extra)) {
        QTest::qFail(qPrintable(QStringLiteral("the server did not start: ") + m_server->log()),
                     __FILE__, __LINE__);
        return false;
    }
    return true;
}

qint64 tst_ServerProcess::count(const QString &sql)
{
    const QVariant value = m_db->scalar(sql);
    if (!value.isValid())
        qWarning("query failed: %s", qPrintable(m_db->error()));
    return value.isValid() ? value.toLongLong() : -1;
}

void tst_ServerProcess::document_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<qint64>("vendor");
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        for (qint64 vendor : {12, 17, 23, -5})
            QTest::addRow("%s, vendor %lld", name, vendor) << int(kind) << vendor;
    }
}

void tst_ServerProcess::document()
{
    QFETCH(qint64, vendor);
    if (!startServer())
        return;
    const HttpReply reply = httpRequest(
        m_server->port(), "GET", "/VendorEmployee.asp?VendorID=" + QByteArray::number(vendor));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/xml; charset=utf-8"));
    const Document doc = readDocument(reply.body);
    QVERIFY2(doc.ok, qPrintable(doc.problem));

    QList<Record> nonSelected, selected;
    expectedLists(vendor, nonSelected, selected);
    QCOMPARE(doc.nonSelectedCount, QString::number(nonSelected.size()));
    QCOMPARE(doc.selectedCount, QString::number(selected.size()));
    QCOMPARE(ids(doc.nonSelected), ids(nonSelected));
    QCOMPARE(ids(doc.selected), ids(selected));
    QCOMPARE(doc.nonSelected, nonSelected); // names too: accents and apostrophes intact
    QCOMPARE(doc.selected, selected);

    QVERIFY2(m_server->log().contains(
                 QStringLiteral("GET /VendorEmployee.asp?VendorID=%1 200 ").arg(vendor)),
             qPrintable(m_server->log()));
}

void tst_ServerProcess::loadRefused_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    const struct
    {
        const char *name;
        const char *target;
        int status;
    } cases[] = {
        {"no query", "/VendorEmployee.asp", 400},
        {"empty vendor", "/VendorEmployee.asp?VendorID=", 400},
        {"letters", "/VendorEmployee.asp?VendorID=abc", 400},
        {"fraction", "/VendorEmployee.asp?VendorID=1.5", 400},
        {"blank around", "/VendorEmployee.asp?VendorID=+12", 400},
        {"beyond 64 bits", "/VendorEmployee.asp?VendorID=99999999999999999999", 400},
        {"twice", "/VendorEmployee.asp?VendorID=12&VendorID=17", 400},
        {"bad escape", "/VendorEmployee.asp?VendorID=%1", 400},
        {"injection", "/VendorEmployee.asp?VendorID=12%20OR%201=1", 400},
        {"unknown vendor", "/VendorEmployee.asp?VendorID=99", 404},
        {"other page", "/Other.asp?VendorID=12", 404},
    };
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        for (const auto &c : cases)
            QTest::addRow("%s, %s", name, c.name) << int(kind) << QByteArray(c.target) << c.status;
    }
}

void tst_ServerProcess::loadRefused()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    if (!startServer())
        return;
    const HttpReply reply = httpRequest(m_server->port(), "GET", target);
    QCOMPARE(reply.status, status);
    QVERIFY(!reply.body.isEmpty()); // the reason
}

void tst_ServerProcess::linkAndUnlink()
{
    if (!startServer())
        return;
    // 108 is inactive: once unlinked it is in neither list. 116 is active.
    const HttpReply reply =
        postForm(m_server->port(), saveBody({insertStatement(12, 101), insertStatement(12, 102),
                                             deleteStatement(12, {108, 116})}));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("2 employees linked, 2 unlinked."));

    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                  "WHERE VendorID = 12")),
             25);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID IN (101, 102) "
                                  "AND RecordLastUpdated IS NOT NULL")),
             2);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID IN (108, 116)")),
             0);

    const Document doc =
        readDocument(httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=12").body);
    QVERIFY2(doc.ok, qPrintable(doc.problem));
    QVERIFY(ids(doc.selected).contains(101));
    QVERIFY(ids(doc.selected).contains(102));
    QVERIFY(!ids(doc.selected).contains(116));
    QVERIFY(ids(doc.nonSelected).contains(116));
    QVERIFY(!ids(doc.nonSelected).contains(108));
    QVERIFY(!ids(doc.selected).contains(108));

    // Another vendor's links are untouched.
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                  "WHERE VendorID = 17")),
             9);
}

void tst_ServerProcess::allOrNothing_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<QByteArray>("badField"); // sent as is, between two good fields
    const QByteArray insert = insertStatement(12, 103);
    const struct
    {
        const char *name;
        QByteArray field;
    } cases[] = {
        {"stacked statement", "SQL=" + formEncode(insert + "; DROP TABLE employees")},
        {"semicolon", "SQL=" + formEncode(insert.trimmed() + ";")},
        {"comment", "SQL=" + formEncode(deleteStatement(12, {116}) + " --")},
        {"union",
         "SQL=" + formEncode("DELETE FROM VendorEmployeeCrossReference WHERE VendorID=12 "
                             "AND EmployeeID IN(SELECT ID FROM employees UNION SELECT 1)")},
        {"condition", "SQL=" + formEncode("DELETE FROM VendorEmployeeCrossReference WHERE "
                                          "VendorID=12 OR 1=1 AND EmployeeID IN(116)")},
        {"other table", "SQL=" + formEncode("DELETE FROM employees WHERE VendorID=12 AND "
                                            "EmployeeID IN(116)")},
        {"lower case", "SQL=" + formEncode(insert.toLower())},
        {"quoted number", "SQL=" + formEncode(insertStatement(12, 0).replace(",0,", ",'103',"))},
        {"unknown employee", "SQL=" + formEncode(deleteStatement(12, {116, 999999}))},
        {"unknown employee insert", "SQL=" + formEncode(insertStatement(12, 999999))},
        {"unknown vendor", "SQL=" + formEncode(insertStatement(99, 104))},
        {"field not named SQL", "sql=" + formEncode(insertStatement(12, 104))},
        {"empty statement", "SQL="},
        {"malformed escape", "SQL=INSERT%2"},
        {"bad escape digit", "SQL=%G0"},
    };
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        for (const auto &c : cases)
            QTest::addRow("%s, %s", name, c.name) << int(kind) << c.field;
    }
}

void tst_ServerProcess::allOrNothing()
{
    QFETCH(QByteArray, badField);
    if (!startServer())
        return;
    const QByteArray body = saveBody({insertStatement(12, 102)}) + badField + '&' +
                            saveBody({deleteStatement(12, {116})});
    const HttpReply reply = postForm(m_server->port(), body);
    QCOMPARE(reply.status, 400);
    QVERIFY2(reply.body.startsWith("Refused: "), reply.body.constData());

    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference")),
             25 + 9 + 3);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID = 102")),
             0);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID = 116")),
             1);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM employees")), 200);
}

void tst_ServerProcess::runsOfChanges_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<QList<QByteArray>>("statements");
    QTest::addColumn<QByteArray>("summary");
    QTest::addColumn<QString>("linked"); // pairs "vendor:employee" linked afterwards
    QTest::addColumn<QString>("unlinked");
    // Demo seed: vendor 12 links 108, 116, ..., 300; vendor 17 links 150, 152, ..., 166.
    const struct
    {
        const char *name;
        QList<QByteArray> statements;
        const char *summary;
        const char *linked;
        const char *unlinked;
    } cases[] = {
        {"link, unlink, link one pair",
         {insertStatement(12, 101), deleteStatement(12, {101}), insertStatement(12, 101)},
         "2 employees linked, 1 unlinked.",
         "12:101",
         ""},
        {"unlink, link, unlink a linked pair",
         {deleteStatement(12, {116}), insertStatement(12, 116), deleteStatement(12, {116})},
         "1 employee linked, 2 unlinked.",
         "",
         "12:116"},
        {"the same pair twice in a row",
         {insertStatement(12, 101), insertStatement(12, 101), deleteStatement(12, {124, 124}),
          deleteStatement(12, {132, 101, 132})},
         "1 employee linked, 3 unlinked.",
         "",
         "12:101 12:124 12:132"},
        {"two vendors taking turns",
         {insertStatement(12, 101), insertStatement(17, 101), insertStatement(12, 102),
          deleteStatement(17, {150, 101}), insertStatement(17, 150)},
         "4 employees linked, 2 unlinked.",
         "12:101 12:102 17:150",
         "17:101"},
        {"linking what is linked",
         {insertStatement(12, 116), insertStatement(17, 152)},
         "0 employees linked, 0 unlinked.",
         "12:116 17:152",
         ""},
    };
    // Long runs: 101-140 linked (101 twice; 108, 116, 124, 132 and 140 are linked already),
    // then every link of the seed and 101 unlinked in one delete.
    QList<QByteArray> longRuns;
    for (qint64 id = 101; id <= 140; ++id)
        longRuns.append(insertStatement(12, id));
    longRuns.append(insertStatement(12, 101));
    QList<qint64> seeded{101};
    for (qint64 id = 108; id <= 300; id += 8)
        seeded.append(id);
    longRuns.append(deleteStatement(12, seeded));
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        for (const auto &c : cases)
            QTest::addRow("%s, %s", name, c.name)
                << int(kind) << c.statements << QByteArray(c.summary)
                << QString::fromLatin1(c.linked) << QString::fromLatin1(c.unlinked);
        QTest::addRow("%s, long runs", name)
            << int(kind) << longRuns << QByteArray("35 employees linked, 26 unlinked.")
            << QStringLiteral("12:102 12:139") << QStringLiteral("12:101 12:108 12:140 12:300");
    }
}

// The changes of a post apply in order, one after the other, however the store groups them.
void tst_ServerProcess::runsOfChanges()
{
    QFETCH(QList<QByteArray>, statements);
    QFETCH(QByteArray, summary);
    QFETCH(QString, linked);
    QFETCH(QString, unlinked);
    if (!startServer())
        return;
    const HttpReply reply = postForm(m_server->port(), saveBody(statements));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, summary);
    for (const auto &[pairs, expected] : {std::pair{linked, 1}, std::pair{unlinked, 0}}) {
        for (const QString &pair : pairs.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList ids = pair.split(u':');
            QVERIFY2(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                          "WHERE VendorID = %1 AND EmployeeID = %2")
                               .arg(ids[0], ids[1])) == expected,
                     qPrintable(pair));
        }
    }
}

void tst_ServerProcess::refusalNamesTheFirstUnknown_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<QList<QByteArray>>("statements");
    QTest::addColumn<QByteArray>("refusal");
    QList<QByteArray> longRun;
    for (qint64 id = 101; id <= 300; ++id)
        longRun.append(insertStatement(12, id == 250 ? 999999 : id));

    QList<qint64> longList;
    for (qint64 id = 108; id <= 300; id += 8)
        longList.append(id == 204 ? -204 : id);
    // Several unknowns: the one met first going through the post, each change's vendor before
    // its employees.
    const struct
    {
        const char *name;
        QList<QByteArray> statements;
        const char *refusal;
    } cases[] = {
        {"amid a long run", longRun, "unknown employee 999999"},
        {"in a delete's list",
         {insertStatement(17, 101), deleteStatement(12, {116, 124, -4, 132})},
         "unknown employee -4"},
        {"vendor of a later change",
         {insertStatement(12, 101), insertStatement(12, 102), insertStatement(99, 103)},
         "unknown vendor 99"},
        {"long delete's list, then vendor",
         {deleteStatement(12, longList), insertStatement(99, 101)},
         "unknown employee -204"},
        {"vendor, then long delete's list",
         {insertStatement(99, 101), deleteStatement(12, longList)},
         "unknown vendor 99"},
        {"employee before vendor",
         {insertStatement(12, 999999), insertStatement(99, 101)},
         "unknown employee 999999"},
        {"vendor before employee",
         {insertStatement(99, 101), insertStatement(12, 999999)},
         "unknown vendor 99"},
        {"vendor before its own employees",
         {insertStatement(12, 101), deleteStatement(98, {999999})},
         "unknown vendor 98"},
        {"first of two employees, not the smallest",
         {deleteStatement(12, {116, 999998}), insertStatement(12, 999997),
          insertStatement(12, 999998)},
         "unknown employee 999998"},
        {"later vendor smaller than the first",
         {insertStatement(98, 101), insertStatement(97, 101)},
         "unknown vendor 98"},
    };
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        for (const auto &c : cases)
            QTest::addRow("%s, %s", name, c.name)
                << int(kind) << c.statements << "Refused: " + QByteArray(c.refusal) + '.';
    }
}

void tst_ServerProcess::refusalNamesTheFirstUnknown()
{
    QFETCH(QList<QByteArray>, statements);
    QFETCH(QByteArray, refusal);
    if (!startServer())
        return;
    const HttpReply reply = postForm(m_server->port(), saveBody(statements));
    QCOMPARE(reply.status, 400);
    QCOMPARE(reply.body, refusal + " Nothing was changed.");
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference")),
             25 + 9 + 3);
}

void tst_ServerProcess::repeatedPostIsHarmless()
{
    if (!startServer())
        return;
    const QByteArray body = saveBody({insertStatement(12, 101), deleteStatement(12, {116, 124})});
    const HttpReply first = postForm(m_server->port(), body);
    QCOMPARE(first.status, 200);
    QCOMPARE(first.body, QByteArray("1 employee linked, 2 unlinked."));
    const QString stamp = QStringLiteral("SELECT RecordLastUpdated FROM "
                                         "VendorEmployeeCrossReference WHERE VendorID = 12 AND "
                                         "EmployeeID = 101");
    const QVariant linkedAt = m_db->scalar(stamp);
    QVERIFY2(linkedAt.isValid(), qPrintable(m_db->error()));
    QTest::qWait(20); // a rewritten timestamp would differ

    const HttpReply second = postForm(m_server->port(), body);
    QCOMPARE(second.status, 200);
    QCOMPARE(second.body, QByteArray("0 employees linked, 0 unlinked."));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                  "WHERE VendorID = 12")),
             24);
    QCOMPARE(m_db->scalar(stamp), linkedAt);
}

void tst_ServerProcess::emptyBodyChangesNothing()
{
    if (!startServer())
        return;
    for (const QByteArray &body : {QByteArray(), QByteArray("&")}) {
        const HttpReply reply = postForm(m_server->port(), body);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body, QByteArray("0 employees linked, 0 unlinked."));
    }
    // Not a form: refused before anything is read from it.
    const HttpReply wrongType =
        httpRequest(m_server->port(), "POST", "/VendorEmployee.asp",
                    saveBody({insertStatement(12, 101)}), {{"Content-Type", "text/plain"}});
    QCOMPARE(wrongType.status, 415);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference")),
             25 + 9 + 3);
}

void tst_ServerProcess::bodyLimit_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<int>("status");
    constexpr qsizetype limit = 16 * 1024 * 1024;
    for (auto [kind, name] : {std::pair{TestDatabase::Kind::Sqlite, "sqlite"},
                              std::pair{TestDatabase::Kind::Postgres, "postgresql"}}) {
        QTest::addRow("%s, at the limit", name) << int(kind) << limit << 200;
        QTest::addRow("%s, one byte over", name) << int(kind) << limit + 1 << 413;
    }
}

void tst_ServerProcess::bodyLimit()
{
    QFETCH(qsizetype, size);
    QFETCH(int, status);
    if (!startServer())
        return;
    // A good field padded with empty ones: accepted, it links 101.
    QByteArray body = saveBody({insertStatement(12, 101)});
    body.append(size - body.size(), '&');
    const HttpReply reply = postForm(m_server->port(), body);
    QCOMPARE(reply.status, status);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID = 101")),
             status == 200 ? 1 : 0);
}

void tst_ServerProcess::databaseFailureIs500()
{
    if (!startServer())
        return;
    // Another session holds the write lock longer than the server waits for it.
    const bool sqlite = m_db->kind() == TestDatabase::Kind::Sqlite;
    QVERIFY2(m_db->hold(sqlite ? QStringLiteral("BEGIN EXCLUSIVE")
                               : QStringLiteral("BEGIN; LOCK TABLE VendorEmployeeCrossReference "
                                                "IN ACCESS EXCLUSIVE MODE")),
             qPrintable(m_db->error()));
    const HttpReply reply = postForm(m_server->port(), saveBody({insertStatement(12, 101)}));
    m_db->release();
    QCOMPARE(reply.status, 500);
    QCOMPARE(reply.body, QByteArray("The database failed; nothing was changed."));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID = 101")),
             0);
    // The server recovers once the lock is gone.
    QCOMPARE(postForm(m_server->port(), saveBody({insertStatement(12, 101)})).status, 200);
}

void tst_ServerProcess::droppedConnectionsAreReopened_data()
{
    QTest::addColumn<int>("backend");
    QTest::newRow("postgresql") << int(TestDatabase::Kind::Postgres);
}

void tst_ServerProcess::droppedConnectionsAreReopened()
{
    if (!startServer())
        return;
    const QByteArray page = "/VendorEmployee.asp?VendorID=12";
    QCOMPARE(httpRequest(m_server->port(), "GET", page).status, 200);
    // As after a database restart or an administrator's cleanup: the pooled connections are gone.
    QVERIFY2(m_db->scalar(QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM "
                                         "pg_stat_activity WHERE datname = current_database() "
                                         "AND pid <> pg_backend_pid()"))
                     .toLongLong() >= 1,
             qPrintable(m_db->error()));
    QCOMPARE(httpRequest(m_server->port(), "GET", page).status, 200);
    QCOMPARE(postForm(m_server->port(), saveBody({insertStatement(12, 101)})).status, 200);
}

void tst_ServerProcess::twoProcessesShareOneDatabase()
{
    if (!startServer())
        return;
    ServerProcess other;
    QVERIFY2(other.start({QStringLiteral("--database"), m_db->serverArgument()}),
             qPrintable(other.log()));

    // Posts to both at once, from two threads, each linking its own half and unlinking none.
    QList<qint64> all;
    for (qint64 id = 101; id <= 300; ++id)
        all.append(id);
    std::atomic<int> failures = 0;
    auto post = [&](quint16 port, int parity) {
        for (qsizetype i = parity; i < all.size(); i += 2) {
            if (postForm(port, saveBody({insertStatement(23, all[i])})).status != 200)
                ++failures;
        }
    };
    std::thread a(post, m_server->port(), 0);
    std::thread b(post, other.port(), 1);
    a.join();
    b.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                  "WHERE VendorID = 23")),
             all.size());
    const Document doc =
        readDocument(httpRequest(other.port(), "GET", "/VendorEmployee.asp?VendorID=23").body);
    QVERIFY2(doc.ok, qPrintable(doc.problem));
    QCOMPARE(ids(doc.selected), all);
}

void tst_ServerProcess::seedLeavesAFilledDatabaseAlone()
{
    if (!startServer())
        return;
    QCOMPARE(postForm(m_server->port(), saveBody({insertStatement(12, 101)})).status, 200);
    QCOMPARE(m_server->stop(), 0);
    QVERIFY2(m_server->start({QStringLiteral("--database"), m_db->serverArgument(),
                              QStringLiteral("--seed"), QStringLiteral("demo")}),
             qPrintable(m_server->log()));
    QVERIFY2(m_server->log().contains(QStringLiteral("not seeded")), qPrintable(m_server->log()));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                  "VendorID = 12 AND EmployeeID = 101")),
             1);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM employees")), 200);
}

void tst_ServerProcess::generatedSeed()
{
    if (!startServer({QStringLiteral("--seed"), QStringLiteral("1000")}))
        return;
    const Document doc =
        readDocument(httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=1").body);
    QVERIFY2(doc.ok, qPrintable(doc.problem));
    QCOMPARE(doc.nonSelected.size(), 750);
    QCOMPARE(doc.selected.size(), 250);
    QCOMPARE(doc.selected.first().id, 4);
    const Document second =
        readDocument(httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=2").body);
    QVERIFY2(second.ok, qPrintable(second.problem));
    QCOMPARE(second.nonSelected.size(), 500);
    QCOMPARE(second.selected.size(), 500);
    QCOMPARE(second.selected.first().id, 2);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM employees")), 1000);
}

void tst_ServerProcess::stopsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<int>("signal");
    QTest::newRow("sqlite, SIGTERM") << int(TestDatabase::Kind::Sqlite) << SIGTERM;
    QTest::newRow("sqlite, SIGINT") << int(TestDatabase::Kind::Sqlite) << SIGINT;
    QTest::newRow("postgresql, SIGTERM") << int(TestDatabase::Kind::Postgres) << SIGTERM;
}

void tst_ServerProcess::stopsCleanlyOnSignal()
{
    QFETCH(int, signal);
    if (!startServer())
        return;
    QCOMPARE(httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=12").status, 200);
    QElapsedTimer took;
    took.start();
    QVERIFY(m_server->stop(10000, signal) == 0);
    QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
    QVERIFY2(m_server->log().contains(QStringLiteral(", stopping")), qPrintable(m_server->log()));
}

void tst_ServerProcess::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")};
    QTest::newRow("unknown database")
        << QStringList{QStringLiteral("--database"), QStringLiteral("mysql://x")};
    QTest::newRow("sqlite without path")
        << QStringList{QStringLiteral("--database"), QStringLiteral("sqlite:")};
    QTest::newRow("listen without port")
        << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1")};
    QTest::newRow("seed zero") << QStringList{QStringLiteral("--seed"), QStringLiteral("0")};
    QTest::newRow("seed word") << QStringList{QStringLiteral("--seed"), QStringLiteral("lots")};
    QTest::newRow("missing value") << QStringList{QStringLiteral("--database")};
    QTest::newRow("certificate without key")
        << QStringList{QStringLiteral("--tls-cert"), ServerProcess::program()};
    QTest::newRow("unreadable certificate")
        << QStringList{QStringLiteral("--tls-cert"), QStringLiteral("/nonexistent.pem"),
                       QStringLiteral("--tls-key"), ServerProcess::program()};
    QTest::newRow("certificate that is no certificate")
        << QStringList{QStringLiteral("--tls-cert"), ServerProcess::program(),
                       QStringLiteral("--tls-key"), ServerProcess::program(),
                       QStringLiteral("--database"), QStringLiteral("sqlite::memory:")};
    QTest::newRow("per-client cap zero")
        << QStringList{QStringLiteral("--max-connections-per-client"), QStringLiteral("0")};
}

void tst_ServerProcess::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(ServerProcess::program(), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardError().isEmpty());
}

void tst_ServerProcess::helpNamesEveryOption()
{
    QProcess process;
    process.start(ServerProcess::program(), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray help = process.readAllStandardOutput();
    for (const char *option :
         {"--listen", "--database", "--seed demo", "--seed N", "--threads", "--users",
          "--hash-password", "--tls-cert", "--tls-key", "--trusted-proxy", "--user-header",
          "--insecure-open", "--allow-host", "--allow-origin", "--max-connections-per-client",
          "/healthz", "SIGHUP"})
        QVERIFY2(help.contains(option), option);
}

void tst_ServerProcess::servesTls_data()
{
    // The store plays no part in it.
    QTest::addColumn<int>("backend");
    QTest::newRow("sqlite") << int(TestDatabase::Kind::Sqlite);
}

void tst_ServerProcess::servesTls()
{
    QTemporaryDir dir;
    const TestCertificates certs = makeTestCertificates(dir.path());
    QVERIFY2(certs.error.isEmpty(), qPrintable(certs.error));
    if (!startServer({QStringLiteral("--seed"), QStringLiteral("demo"), QStringLiteral("--tls-cert"),
                      certs.certificateFile, QStringLiteral("--tls-key"), certs.keyFile}))
        return;
    QVERIFY(m_server->url().startsWith(QStringLiteral("https://127.0.0.1:")));
    const TlsExchange x =
        tlsExchange(m_server->port(), certs.caFile,
                    "GET /VendorEmployee.asp?VendorID=23 HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(m_server->port()) + "\r\nConnection: close\r\n\r\n");
    QVERIFY2(x.handshake, x.error.c_str());
    QVERIFY2(x.answer.starts_with("HTTP/1.1 200 OK"), x.answer.c_str());
    QVERIFY(x.answer.find("text/xml") != std::string::npos);
}

QTEST_GUILESS_MAIN(tst_ServerProcess)
#include "tst_serverprocess.moc"
