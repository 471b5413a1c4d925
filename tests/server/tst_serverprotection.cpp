// The server's protection as a client meets it: logins and roles, the failed-login limit, a
// trusted proxy, Host and Origin checks, the audit trail, the health check, and the refusal to
// start unprotected. Where the database is involved, each runs on SQLite and on PostgreSQL.

#include "ServerProcess.h"
#include "TestDatabase.h"

#include <QtTest>

#include <csignal>
#include <memory>
#include <thread>
#include <vector>

using namespace kvetest;

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

QByteArray basic(const QByteArray &userAndPassword)
{
    return "Basic " + userAndPassword.toBase64();
}

const QByteArray link101 = saveBody({insertStatement(12, 101)});

HttpReply post(quint16 port, const QByteArray &body, Headers headers = {},
               const QString &from = {})
{
    headers.append(qMakePair(QByteArray("Content-Type"),
                             QByteArray("application/x-www-form-urlencoded")));
    return httpRequest(port, "POST", "/VendorEmployee.asp", body, headers, 30000, from);
}

// A hash made by the server itself, once.
QByteArray hashOf(const QByteArray &password)
{
    QProcess process;
    process.start(ServerProcess::program(), {QStringLiteral("--hash-password")});
    process.write(password + '\n');
    process.closeWriteChannel();
    process.waitForFinished(20000);
    return process.readAllStandardOutput().trimmed();
}

} // namespace

class tst_ServerProtection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loginAndRoles_data() { backends(); }
    void loginAndRoles();
    void sighupRereadsUsers();
    void failedLoginsCost();
    void trustedProxy_data() { backends(); }
    void trustedProxy();
    void hostAndOrigin_data() { backends(); }
    void hostAndOrigin();
    void auditTrail_data() { backends(); }
    void auditTrail();
    void health_data() { backends(); }
    void health();
    void refusesToStart_data();
    void refusesToStart();

private:
    static void backends();
    bool startServer(const QStringList &extra);
    qint64 count(const QString &sql);
    QString writeUsers(const QByteArray &text);

    QTemporaryDir m_dir;
    QByteArray m_hash; // of "pw"
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
};

void tst_ServerProtection::backends()
{
    QTest::addColumn<int>("backend");
    QTest::newRow("sqlite") << int(TestDatabase::Kind::Sqlite);
    QTest::newRow("postgresql") << int(TestDatabase::Kind::Postgres);
}

void tst_ServerProtection::initTestCase()
{
    m_hash = hashOf("pw");
    QVERIFY2(m_hash.startsWith("$y$"), m_hash.constData());
}

QString tst_ServerProtection::writeUsers(const QByteArray &text)
{
    const QString path = m_dir.filePath(QStringLiteral("users"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(QByteArray(text).replace("HASH", m_hash));
    return path;
}

bool tst_ServerProtection::startServer(const QStringList &extra)
{
    int backend = int(TestDatabase::Kind::Sqlite);
    if (QTest::currentDataTag() && QByteArray(QTest::currentDataTag()).startsWith("postgresql"))
        backend = int(TestDatabase::Kind::Postgres);
    m_server.reset();
    m_db = std::make_unique<TestDatabase>();
    if (backend == int(TestDatabase::Kind::Postgres) &&
        !TestDatabase::postgresUnavailable().isEmpty()) {
        QTest::qSkip(qPrintable(TestDatabase::postgresUnavailable()), __FILE__, __LINE__);
        return false;
    }
    if (!m_db->create(TestDatabase::Kind(backend))) {
        QTest::qFail(qPrintable(m_db->error()), __FILE__, __LINE__);
        return false;
    }
    m_server = std::make_unique<ServerProcess>();
    if (!m_server->start(QStringList{QStringLiteral("--database"), m_db->serverArgument(),
                                     QStringLiteral("--seed"), QStringLiteral("demo")} +
                         extra)) {
        QTest::qFail(qPrintable(m_server->log()), __FILE__, __LINE__);
        return false;
    }
    return true;
}

qint64 tst_ServerProtection::count(const QString &sql)
{
    const QVariant value = m_db->scalar(sql);
    if (!value.isValid())
        qWarning("query failed: %s", qPrintable(m_db->error()));
    return value.isValid() ? value.toLongLong() : -1;
}

void tst_ServerProtection::loginAndRoles()
{
    const QString users = writeUsers("# who may use it\nalice:HASH:write\n\nbob:HASH:read\n"
                                     "sso:*:write\n");
    if (!startServer({QStringLiteral("--users"), users}))
        return;
    const QString linked = QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                          "WHERE VendorID = 12 AND EmployeeID = 101");
    const QString audited = QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit");
    const struct
    {
        const char *name;
        QByteArray authorization; // empty: none sent
        int getStatus, postStatus;
    } cases[] = {
        {"no credentials", {}, 401, 401},
        {"wrong password", basic("alice:wrong"), 401, 401},
        {"unknown user", basic("carol:pw"), 401, 401},
        {"no password login for *", basic("sso:"), 401, 401},
        {"read user", basic("bob:pw"), 200, 403},
        {"other scheme", "Bearer abc", 400, 400},
        {"bad base64", "Basic !!!!", 400, 400},
        {"no colon", basic("alice"), 400, 400},
        {"10 KB", basic("alice:" + QByteArray(10240, 'x')), 400, 400},
        {"NUL in the name", basic(QByteArray("al\0ice:pw", 9)), 400, 400},
        {"not UTF-8", basic("al\xe9ice:pw"), 400, 400},
        {"write user", basic("alice:pw"), 200, 200},
    };
    for (const auto &c : cases) {
        Headers headers;
        if (!c.authorization.isEmpty())
            headers.append({"Authorization", c.authorization});
        const HttpReply get = httpRequest(m_server->port(), "GET",
                                          "/VendorEmployee.asp?VendorID=12", {}, headers);
        QVERIFY2(get.status == c.getStatus, c.name);
        QVERIFY2((get.status == 200) == get.body.startsWith("<?xml"), c.name);
        if (get.status == 401)
            QCOMPARE(get.header("WWW-Authenticate"),
                     QByteArray(R"(Basic realm="VendorEmployee", charset="UTF-8")"));
        const HttpReply posted = post(m_server->port(), link101, headers);
        QVERIFY2(posted.status == c.postStatus, c.name);
        QVERIFY2(count(linked) == (c.postStatus == 200 ? 1 : 0), c.name);
        QVERIFY2(count(audited) == (c.postStatus == 200 ? 1 : 0), c.name);
    }
}

void tst_ServerProtection::sighupRereadsUsers()
{
    const QString users = writeUsers("alice:HASH:write\nbob:HASH:read\n");
    if (!startServer({QStringLiteral("--users"), users}))
        return;
    const auto status = [this](const QByteArray &credentials) {
        return httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=12", {},
                           {{"Authorization", basic(credentials)}})
            .status;
    };
    const auto hangUp = [this](const char *expect) {
        ::kill(pid_t(m_server->pid()), SIGHUP);
        QTRY_VERIFY2(m_server->log().contains(QLatin1String(expect)), qPrintable(m_server->log()));
    };
    QCOMPARE(status("alice:pw"), 200); // now remembered
    QCOMPARE(status("bob:pw"), 200);

    // Bob goes; alice's password changes: the remembered one must not open the door any more.
    const QByteArray newHash = hashOf("new");
    writeUsers("alice:" + newHash + ":write\n");
    hangUp("users read again");
    QCOMPARE(status("bob:pw"), 401);
    QCOMPARE(status("alice:pw"), 401);
    QCOMPARE(status("alice:new"), 200);

    // A file that no longer parses keeps the list in use, and the log says where it broke.
    writeUsers("alice:" + newHash + ":write\nbob:HASH:admin\n");
    hangUp("line 2: the role must be read or write; the users read before stay");
    QCOMPARE(status("alice:new"), 200);
}

void tst_ServerProtection::failedLoginsCost()
{
    const QString users = writeUsers("alice:HASH:write\n");
    if (!startServer({QStringLiteral("--users"), users}))
        return;
    const auto get = [this](const QByteArray &credentials, const QString &from) {
        return httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=12", {},
                           {{"Authorization", basic(credentials)}}, 30000, from);
    };
    // Requests without credentials are no failed logins.
    for (int i = 0; i < 12; ++i)
        QCOMPARE(httpRequest(m_server->port(), "GET", "/VendorEmployee.asp?VendorID=12").status,
                 401);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(get(i % 2 ? "alice:guess" : "mallory:guess", {}).status, 401);
    // Blocked now, even with the right password; another address is not.
    const HttpReply blocked = get("alice:pw", {});
    QCOMPARE(blocked.status, 429);
    const int retryAfter = blocked.header("Retry-After").toInt();
    QVERIFY2(retryAfter >= 1 && retryAfter <= 60, blocked.header("Retry-After").constData());
    QCOMPARE(get("alice:pw", QStringLiteral("127.0.0.2")).status, 200);
    QCOMPARE(post(m_server->port(), link101, {{"Authorization", basic("alice:pw")}}).status, 429);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference "
                                  "WHERE VendorID = 12 AND EmployeeID = 101")),
             0);
}

void tst_ServerProtection::trustedProxy()
{
    const QString users = writeUsers("alice:HASH:write\nsso:*:write\nreader:*:read\n");
    if (!startServer({QStringLiteral("--users"), users, QStringLiteral("--trusted-proxy"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("--user-header"),
                      QStringLiteral("X-Remote-User")}))
        return;
    const quint16 port = m_server->port();
    const Headers forwarded{{"X-Forwarded-For", "198.51.100.7, 203.0.113.9"}};

    // From the proxy: the header names the user, the role is the file's.
    QCOMPARE(post(port, link101, forwarded + Headers{{"X-Remote-User", "sso"}}).status, 200);
    QCOMPARE(post(port, saveBody({insertStatement(12, 102)}),
                  forwarded + Headers{{"X-Remote-User", "reader"}})
                 .status,
             403);
    QCOMPARE(post(port, link101, {{"X-Remote-User", "nobody"}}).status, 403);
    // From anyone else the header counts for nothing, and X-Forwarded-For neither.
    const QString other = QStringLiteral("127.0.0.2");
    QCOMPARE(post(port, saveBody({deleteStatement(12, {101})}),
                  forwarded + Headers{{"X-Remote-User", "alice"}}, other)
                 .status,
             401);
    QCOMPARE(post(port, saveBody({deleteStatement(12, {101})}),
                  forwarded + Headers{{"Authorization", basic("alice:pw")}}, other)
                 .status,
             200);

    QCOMPARE(m_db->scalar(QStringLiteral("SELECT UserName || ' ' || ClientAddress || ' ' || "
                                         "Action FROM VendorEmployeeAudit ORDER BY ID LIMIT 1")),
             QVariant(QStringLiteral("sso 203.0.113.9 link")));
    QCOMPARE(m_db->scalar(QStringLiteral("SELECT UserName || ' ' || ClientAddress || ' ' || "
                                         "Action FROM VendorEmployeeAudit ORDER BY ID DESC "
                                         "LIMIT 1")),
             QVariant(QStringLiteral("alice 127.0.0.2 unlink")));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit")), 2);
}

void tst_ServerProtection::hostAndOrigin()
{
    if (!startServer({QStringLiteral("--allow-host"), QStringLiteral("vendoremp.example"),
                      QStringLiteral("--allow-origin"), QStringLiteral("https://intranet.example")}))
        return;
    const quint16 port = m_server->port();
    const QByteArray p = ':' + QByteArray::number(port);
    const struct
    {
        const char *name;
        Headers headers;
        bool allowed;
    } cases[] = {
        {"foreign host", {{"Host", "rebound.example" + p}}, false},
        {"loopback name, other port", {{"Host", "localhost:1"}}, false},
        {"localhost", {{"Host", "localhost" + p}}, true},
        {"IPv6 loopback", {{"Host", "[::1]" + p}}, true},
        {"allowed name, proxy's port", {{"Host", "vendoremp.example"}}, true},
        {"foreign origin", {{"Origin", "http://127.0.0.2:8000"}}, false},
        {"null origin", {{"Origin", "null"}}, false},
        {"cross-site fetch", {{"Sec-Fetch-Site", "cross-site"}}, false},
        {"same-site fetch", {{"Sec-Fetch-Site", "same-site"}}, false},
        {"listed origin, cross-site",
         {{"Origin", "https://intranet.example"}, {"Sec-Fetch-Site", "cross-site"}},
         true},
        {"same origin fetch", {{"Sec-Fetch-Site", "same-origin"}}, true},
    };
    qint64 employee = 99; // odd ones: none is linked in the demo data
    for (const auto &c : cases) {
        const HttpReply get = httpRequest(port, "GET", "/VendorEmployee.asp?VendorID=12", {},
                                          c.headers);
        QVERIFY2(get.status == (c.allowed ? 200 : 403), c.name);
        QVERIFY2(get.body.contains("<VendorEmployees>") == c.allowed, c.name);
        const HttpReply posted =
            post(port, saveBody({insertStatement(12, employee += 2)}), c.headers);
        QVERIFY2(posted.status == (c.allowed ? 200 : 403), c.name);
        QVERIFY2(count(QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference WHERE "
                                      "VendorID = 12 AND EmployeeID = %1")
                           .arg(employee)) == (c.allowed ? 1 : 0),
                 c.name);
    }
}

void tst_ServerProtection::auditTrail()
{
    if (!startServer({}))
        return;
    const QString rows = QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit");
    // 101 is new, 116 linked already (no-op), 124 unlinked, 102 was never linked (no-op); then a
    // long run, written by array, of which 108, 116 ... are linked already.
    QList<QByteArray> statements{insertStatement(12, 101), insertStatement(12, 116),
                                 deleteStatement(12, {124, 102})};
    for (qint64 id = 103; id <= 130; ++id)
        statements.append(insertStatement(12, id));
    statements.append(deleteStatement(12, QList<qint64>{140, 148, 156, 164, 172, 180, 188, 196, 204,
                                                        212, 220, 228, 236, 244, 252, 260, 109}));
    const HttpReply reply = post(m_server->port(), saveBody(statements));
    QCOMPARE(reply.status, 200);
    // Links: 101, and 103..130 but 108 and 116 (124 is re-linked after its unlink: a change).
    // Unlinks: 124, the 16 long-linked ones, and 109 linked just before.
    QCOMPARE(reply.body, QByteArray("27 employees linked, 18 unlinked."));
    QCOMPARE(count(rows), 27 + 18);
    QCOMPARE(count(rows + QStringLiteral(" WHERE Action = 'link' AND VendorID = 12 AND "
                                         "EmployeeID IN (101, 124, 130) AND UserName = '' AND "
                                         "ClientAddress = '127.0.0.1' AND ChangedAt IS NOT NULL")),
             3);
    QCOMPARE(count(rows + QStringLiteral(" WHERE EmployeeID IN (102, 116, 108)")), 0);
    QCOMPARE(count(rows + QStringLiteral(" WHERE Action = 'unlink' AND EmployeeID = 109")), 1);

    // No-ops, and a refused save: nothing more.
    QCOMPARE(post(m_server->port(), saveBody({insertStatement(12, 101), deleteStatement(12, {102})}))
                 .body,
             QByteArray("0 employees linked, 0 unlinked."));
    QCOMPARE(post(m_server->port(), saveBody({deleteStatement(12, {132}), insertStatement(99, 1)}))
                 .status,
             400);
    QCOMPARE(count(rows), 27 + 18);
}

void tst_ServerProtection::health()
{
    const QString users = writeUsers("alice:HASH:write\n");
    if (!startServer({QStringLiteral("--users"), users}))
        return;
    // A loaded machine may miss the 1 s deadline now and then: answered within a minute.
    const auto healthy = [this](const Headers &headers = {}) {
        for (int attempt = 0; attempt < 60; ++attempt) {
            const HttpReply reply = httpRequest(m_server->port(), "GET", "/healthz", {}, headers);
            if (reply.status == 200)
                return reply.body == "ok";
            QTest::qWait(500);
        }
        return false;
    };
    // No credentials, and any Host: load balancers probe by address.
    QVERIFY2(healthy({{"Host", "10.0.0.5"}}), qPrintable(m_server->log()));

    const bool sqlite = m_db->kind() == TestDatabase::Kind::Sqlite;
    QVERIFY2(m_db->hold(sqlite ? QStringLiteral("BEGIN EXCLUSIVE")
                               : QStringLiteral("BEGIN; LOCK TABLE VendorEmployeeCrossReference "
                                                "IN ACCESS EXCLUSIVE MODE")),
             qPrintable(m_db->error()));
    const HttpReply stuck = httpRequest(m_server->port(), "GET", "/healthz");
    m_db->release();
    QCOMPARE(stuck.status, 503);
    QVERIFY(!stuck.body.contains("sqlite") && !stuck.body.contains("postgres"));
    QVERIFY2(healthy(), qPrintable(m_server->log()));

    // Probes that arrive while one runs share its answer rather than a 503 of their own.
    QVERIFY2(m_db->hold(sqlite ? QStringLiteral("BEGIN EXCLUSIVE")
                               : QStringLiteral("BEGIN; LOCK TABLE VendorEmployeeCrossReference "
                                                "IN ACCESS EXCLUSIVE MODE")),
             qPrintable(m_db->error()));
    QList<int> statuses(4);
    std::vector<std::thread> probes;
    for (int &status : statuses)
        probes.emplace_back([&status, port = m_server->port()] {
            status = httpRequest(port, "GET", "/healthz").status;
        });
    QThread::msleep(200);
    m_db->release();
    for (std::thread &probe : probes)
        probe.join();
    QCOMPARE(statuses, QList<int>({200, 200, 200, 200}));
}

void tst_ServerProtection::refusesToStart_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message"); // empty: it starts
    const QString users = QStringLiteral("--users ") + writeUsers("alice:HASH:write\n");
    QFile bad(m_dir.filePath(QStringLiteral("bad-users")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("# fine\nalice:" + m_hash + ":write\nbob:plaintext:read\n");
    bad.close();
    const QString add = QStringLiteral("Add --users FILE with --tls-cert FILE --tls-key FILE");
    const QString proxy = QStringLiteral(" --trusted-proxy 127.0.0.1");
    const QString header = QStringLiteral(" --user-header X-User");
    const QString open = QStringLiteral("--listen 0.0.0.0:0 ");
    QTest::newRow("bad users file") << "--users " + bad.fileName()
                                    << QStringLiteral("bad-users: line 3: the hash must start");
    QTest::newRow("open network") << open << add;
    QTest::newRow("users without TLS") << open + users << add;
    QTest::newRow("proxy without the login") << open + proxy << add;
    QTest::newRow("user header without proxy")
        << users + header << QStringLiteral("--user-header needs --trusted-proxy");
    QTest::newRow("insecure open") << open + QStringLiteral("--insecure-open") << QString();
    QTest::newRow("proxy that logs in") << open + users + proxy + header << QString();
}

void tst_ServerProtection::refusesToStart()
{
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QProcess process;
    process.start(ServerProcess::program(),
                  QStringList{QStringLiteral("--database"),
                              QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("db"))} +
                      arguments.split(u' ', Qt::SkipEmptyParts));
    if (message.isEmpty()) {
        QVERIFY(process.waitForReadyRead(20000));
        QVERIFY(process.readAllStandardOutput().startsWith("http://0.0.0.0:"));
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        return;
    }
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 2);
    const QString log = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(log.contains(message), qPrintable(log));
}

QTEST_GUILESS_MAIN(tst_ServerProtection)
#include "tst_serverprotection.moc"
