// The README's deployment for many users, with real parts: the example nginx configuration in
// front of two server processes on one PostgreSQL database, TLS with a CA made at test time. The
// control loads and commits through nginx; eight writers post while one server is killed with
// SIGKILL and started again; afterwards the database holds every answered post, every
// unanswered post wholly or not at all, and nothing else.

#include "ServerProcess.h"
#include "TestDatabase.h"
#include "support/MessageBoxWatcher.h"
#include "support/TlsKit.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTreeView>
#include <QtTest>

#include <libpq-fe.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

using namespace kvetest;
using KavriVendorEmp::VendorEmployee;

namespace {

constexpr int writerCount = 8;
constexpr int postsPerWriter = 1000; // each post takes two employees of the writer's own
constexpr qint64 writerVendor = 2;  // the generated seed links vendor 2 to every even employee
const QString publicName = QStringLiteral("localhost");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A request through nginx over TLS, on a connection of its own; status 0 when no answer came.
int tlsStatus(quint16 port, const QString &ca, const QByteArray &method, const QByteArray &target,
              const QByteArray &body = {}, const QByteArray &host = publicName.toUtf8(),
              std::chrono::milliseconds timeout = std::chrono::seconds(30),
              const std::string &fromAddress = {})
{
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: " + host +
                         "\r\nConnection: close\r\n";
    if (method == "POST")
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    const TlsExchange e = tlsExchange(port, ca, request.toStdString(), 0, timeout, fromAddress);
    if (!e.handshake || e.answer.compare(0, 9, "HTTP/1.1 ") != 0)
        return 0;
    return std::atoi(e.answer.c_str() + 9);
}

// Free loopback ports, held together while they are chosen so that they differ.
QList<quint16> freePorts(int count)
{
    std::vector<std::unique_ptr<QTcpServer>> held;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<QTcpServer>());
        if (!held.back()->listen(QHostAddress::LocalHost))
            return {};
        ports.append(held.back()->serverPort());
    }
    return ports;
}

// "vendor:employee" → RecordLastUpdated, the whole cross-reference table.
QHash<QString, QString> crossReference(TestDatabase &db)
{
    const QString all = db.scalar(QStringLiteral(
        "SELECT string_agg(VendorID || ':' || EmployeeID || '=' || RecordLastUpdated, ',' "
        "ORDER BY VendorID, EmployeeID) FROM VendorEmployeeCrossReference")).toString();
    QHash<QString, QString> pairs;
    for (const QString &row : all.split(u',', Qt::SkipEmptyParts))
        pairs.insert(row.section(u'=', 0, 0), row.section(u'=', 1));
    return pairs;
}

QString pairKey(qint64 vendor, qint64 employee)
{
    return QStringLiteral("%1:%2").arg(vendor).arg(employee);
}

// Post i of writer w links one employee of its own and unlinks another (linked by the seed), so
// that each post's two changes are its alone and tell whether it took effect.
qint64 linkedBy(int writer, int post) { return qint64(writer) * 2 * postsPerWriter + 2 * post + 1; }
qint64 unlinkedBy(int writer, int post) { return linkedBy(writer, post) + 1; }
// Each writer is a client of its own address, which the audit trail must name.
std::string writerAddress(int writer) { return "127.0.0." + std::to_string(2 + writer); }

} // namespace

class tst_DeployTopology : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void healthzOnEachServer();
    void controlLoadsAndCommitsThroughNginx();
    void writersWhileAServerIsKilled();
    void healthzWithoutTheDatabase();

private:
    bool startServer(ServerProcess &server, quint16 port, bool seed);
    bool clusterExec(const QString &sql);

    TestDatabase m_db;
    QTemporaryDir m_dir;
    TestCertificates m_certs;
    ServerProcess m_servers[2];
    quint16 m_serverPorts[2] = {};
    quint16 m_https = 0, m_http = 0;
    QProcess m_nginx;
};

bool tst_DeployTopology::startServer(ServerProcess &server, quint16 port, bool seed)
{
    QStringList arguments{QStringLiteral("--database"), m_db.serverArgument(),
                          QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port),
                          QStringLiteral("--allow-host"), publicName,
                          QStringLiteral("--trusted-proxy"), QStringLiteral("127.0.0.1")};
    if (seed)
        arguments << QStringLiteral("--seed") << QString::number(writerCount * 2 * postsPerWriter);
    return server.start(arguments);
}

void tst_DeployTopology::initTestCase()
{
    // No PostgreSQL is a failure, not a skip: tools/test always starts one.
    QVERIFY2(m_db.create(TestDatabase::Kind::Postgres), qPrintable(m_db.error()));
    QVERIFY(m_dir.isValid());
    m_certs = makeTestCertificates(m_dir.path());
    QVERIFY2(m_certs.error.isEmpty(), qPrintable(m_certs.error));

    // The README shows the example file as it stands.
    const QByteArray example = readFile(QStringLiteral(KVE_NGINX_EXAMPLE));
    const QByteArray readme = readFile(QStringLiteral(KVE_README));
    QVERIFY(!example.isEmpty());
    const qsizetype from = readme.indexOf("```nginx\n");
    QVERIFY2(from >= 0, "the README shows no nginx configuration");
    const qsizetype start = from + qstrlen("```nginx\n");
    QCOMPARE(readme.mid(start, readme.indexOf("\n```", start) + 1 - start), example);

    const QList<quint16> ports = freePorts(4);
    QCOMPARE(ports.size(), 4);
    m_serverPorts[0] = ports[0];
    m_serverPorts[1] = ports[1];
    m_https = ports[2];
    m_http = ports[3];
    QVERIFY2(startServer(m_servers[0], m_serverPorts[0], true), qPrintable(m_servers[0].log()));
    QVERIFY2(startServer(m_servers[1], m_serverPorts[1], false), qPrintable(m_servers[1].log()));

    // The example as its comments mean it to be adapted: the servers' ports, loopback listeners
    // on free ports, the public name and the certificate. Each change must find its line.
    QTcpServer ipv6;
    const bool haveIpv6 = ipv6.listen(QHostAddress::LocalHostIPv6);
    ipv6.close();
    const auto listen = [&](quint16 port, const char *ssl, bool v6) {
        if (v6 && !haveIpv6)
            return QByteArray("# (no IPv6 loopback here)");
        return "listen " + QByteArray(v6 ? "[::1]:" : "127.0.0.1:") + QByteArray::number(port) +
               ssl + ';';
    };
    const QList<QPair<QByteArray, QByteArray>> changes = {
        {"127.0.0.1:8081", "127.0.0.1:" + QByteArray::number(m_serverPorts[0])},
        {"127.0.0.1:8082", "127.0.0.1:" + QByteArray::number(m_serverPorts[1])},
        {"listen 80;", listen(m_http, "", false)},
        {"listen [::]:80;", listen(m_http, "", true)},
        {"listen 443 ssl;", listen(m_https, " ssl", false)},
        {"listen [::]:443 ssl;", listen(m_https, " ssl", true)},
        {"/etc/ssl/certs/vendoremp.example.org.pem", m_certs.certificateFile.toUtf8()},
        {"/etc/ssl/private/vendoremp.example.org.key", m_certs.keyFile.toUtf8()},
        {"vendoremp.example.org", publicName.toUtf8()},
    };
    QByteArray site = example;
    for (const auto &[from, to] : changes) {
        QVERIFY2(site.contains(from), qPrintable("the example has no " + from));
        site.replace(from, to);
    }
    QFile siteFile(m_dir.filePath(QStringLiteral("vendoremp.conf")));
    QVERIFY(siteFile.open(QIODevice::WriteOnly) && siteFile.write(site) == site.size());
    siteFile.close();

    // nginx's own instance: every file it writes stays in the temporary folder, which its
    // workers (another user when started as root) must be able to enter for their buffers.
    QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeGroup |
                                            QFile::ExeOther);
    const QByteArray dir = m_dir.path().toUtf8();
    const QByteArray main = "pid " + dir + "/nginx.pid;\nerror_log " + dir +
                            "/error.log;\nworker_processes 2;\nevents { worker_connections 512; }\n"
                            "http {\n    access_log " + dir + "/access.log;\n"
                            "    client_body_temp_path " + dir + "/body;\n"
                            "    proxy_temp_path " + dir + "/proxy;\n"
                            "    fastcgi_temp_path " + dir + "/fastcgi;\n"
                            "    uwsgi_temp_path " + dir + "/uwsgi;\n"
                            "    scgi_temp_path " + dir + "/scgi;\n"
                            "    include " + siteFile.fileName().toUtf8() + ";\n}\n";
    QFile mainFile(m_dir.filePath(QStringLiteral("nginx.conf")));
    QVERIFY(mainFile.open(QIODevice::WriteOnly) && mainFile.write(main) == main.size());
    mainFile.close();
    m_nginx.setProcessChannelMode(QProcess::MergedChannels);
    m_nginx.start(QStringLiteral("nginx"),
                  {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-e"),
                   m_dir.filePath(QStringLiteral("error.log")), QStringLiteral("-c"),
                   mainFile.fileName(), QStringLiteral("-g"), QStringLiteral("daemon off;")});
    QVERIFY2(m_nginx.waitForStarted(10000), qPrintable(m_nginx.errorString()));
    const QDeadlineTimer ready(60000);
    while (tlsStatus(m_https, m_certs.caFile, "GET", "/healthz") != 200) {
        QVERIFY2(m_nginx.state() == QProcess::Running,
                 qPrintable(m_nginx.readAll() + readFile(m_dir.filePath("error.log"))));
        QVERIFY2(!ready.hasExpired(), "nginx did not pass /healthz on within 60 s");
        QThread::msleep(100);
    }
}

void tst_DeployTopology::cleanupTestCase()
{
    if (m_nginx.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_nginx.processId()), SIGQUIT); // a graceful stop
    if (!m_nginx.waitForFinished(20000))
        m_nginx.kill();
}

void tst_DeployTopology::healthzOnEachServer()
{
    // A 503 is the right answer while the database lags past the check's 1 s bound, as it can on
    // a loaded machine; a healthy server must come back to 200 soon.
    for (const ServerProcess &server : m_servers) {
        HttpReply reply;
        for (const QDeadlineTimer soon(30000);
             (reply = httpRequest(server.port(), "GET", "/healthz")).status != 200 &&
             !soon.hasExpired();)
            QThread::msleep(200);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body.trimmed(), QByteArray("ok"));
    }
    // The plain-HTTP listener only sends users to TLS; nginx passes the public name on, and a
    // name the servers do not answer to is refused by them.
    const HttpReply redirect = httpRequest(m_http, "GET", "/VendorEmployee.asp?VendorID=1", {},
                                           {{"Host", publicName.toUtf8()}});
    QCOMPARE(redirect.status, 301);
    QCOMPARE(redirect.header("Location"),
             "https://" + publicName.toUtf8() + "/VendorEmployee.asp?VendorID=1");
    QCOMPARE(tlsStatus(m_https, m_certs.caFile, "GET", "/VendorEmployee.asp?VendorID=1"), 200);
    QCOMPARE(tlsStatus(m_https, m_certs.caFile, "GET", "/VendorEmployee.asp?VendorID=1", {},
                       "rebound.example"),
             403);
}

void tst_DeployTopology::controlLoadsAndCommitsThroughNginx()
{
    // The test CA reaches the control as a site's CA would: through Qt's default configuration.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(QSslCertificate::fromPath(m_certs.caFile));
    QSslConfiguration::setDefaultConfiguration(tls);

    MessageBoxWatcher boxes;
    VendorEmployee control;
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.setVendorID(QStringLiteral("1"));
    control.setServerName(QStringLiteral("https://%1:%2").arg(publicName).arg(m_https));
    auto *all = control.findChild<QTreeView *>(QStringLiteral("lstEmployees"));
    auto *chosen = control.findChild<QTreeView *>(QStringLiteral("lstSelectedEmployees"));
    QVERIFY(all && chosen);
    const qint64 linked = m_db.scalar(QStringLiteral(
        "SELECT count(*) FROM VendorEmployeeCrossReference WHERE VendorID = 1")).toLongLong();
    QVERIFY(linked > 0);
    QCOMPARE(chosen->model()->rowCount(), int(linked));

    // Employee 1 (the seed links vendor 1 to every fourth) moved across with ">" and committed.
    int row = -1;
    for (int r = 0; r < all->model()->rowCount() && row < 0; ++r) {
        if (all->model()->index(r, 0).data().toString() == QStringLiteral("1"))
            row = r;
    }
    QVERIFY(row >= 0);
    const QModelIndex index = all->model()->index(row, 0);
    all->scrollTo(index);
    QTest::mouseClick(all->viewport(), Qt::LeftButton, {}, all->visualRect(index).center());
    QTest::mouseClick(control.findChild<QPushButton *>(QStringLiteral("cmdAdd")), Qt::LeftButton);
    QTest::mouseClick(control.findChild<QPushButton *>(QStringLiteral("cmdCommit")),
                      Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes().size(), 1, 60000);
    QCOMPARE(boxes.boxes().first().text, QStringLiteral("1 employee linked, 0 unlinked."));
    QTRY_COMPARE_WITH_TIMEOUT(chosen->model()->rowCount(), int(linked + 1), 60000);
    QCOMPARE(m_db.scalar(QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit WHERE "
                                        "VendorID = 1 AND EmployeeID = 1 AND Action = 'link'")),
             QVariant(qint64(1)));
}

void tst_DeployTopology::writersWhileAServerIsKilled()
{
    const QHash<QString, QString> before = crossReference(m_db);
    const qint64 auditBefore =
        m_db.scalar(QStringLiteral("SELECT coalesce(max(ID), 0) FROM VendorEmployeeAudit"))
            .toLongLong();
    for (int w = 0; w < writerCount; ++w) {
        QVERIFY(!before.contains(pairKey(writerVendor, linkedBy(w, 0))));
        QVERIFY(before.contains(pairKey(writerVendor, unlinkedBy(w, postsPerWriter - 1))));
    }

    // Each writer posts one save after the other; statuses[w][i] is post i's answer (0: none).
    // A writer waits longer than nginx waits for a server, so a post it gave up on can never
    // be applied after its next one.
    std::atomic<bool> stop{false};
    std::vector<std::vector<int>> statuses(writerCount);
    std::vector<std::atomic<int>> sent(writerCount);
    std::vector<std::thread> writers;
    const QDeadlineTimer writersEnd(180000);
    for (int w = 0; w < writerCount; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < postsPerWriter && !stop && !writersEnd.hasExpired(); ++i) {
                const QByteArray body =
                    saveBody({insertStatement(writerVendor, linkedBy(w, i)),
                              deleteStatement(writerVendor, {unlinkedBy(w, i)})});
                statuses[w].push_back(tlsStatus(m_https, m_certs.caFile, "POST",
                                                "/VendorEmployee.asp", body, publicName.toUtf8(),
                                                std::chrono::seconds(150), writerAddress(w)));
                sent[w] = i + 1;
                // Paced, so that a fast machine does not use up the pairs before the restart.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    const auto everyWriterAt = [&](int count) {
        for (const auto &n : sent) {
            if (n < count)
                return false;
        }
        return true;
    };
    const auto waitFor = [&](const auto &condition) {
        const QDeadlineTimer deadline(60000);
        while (!condition() && !deadline.hasExpired())
            QThread::msleep(20);
        return condition();
    };
    int mark = 0;
    const bool started = waitFor([&] { return everyWriterAt(10); });
    bool killed = false, restarted = false, servedAgain = false, postedAfter = false;
    if (started) {
        killed = m_servers[0].stop(10000, SIGKILL) != 0;
        QThread::msleep(500);
        restarted = startServer(m_servers[0], m_serverPorts[0], false);
        // Passed over for fail_timeout, then back in the rotation.
        servedAgain = restarted && waitFor([&] {
            return m_servers[0].log().contains(QStringLiteral("POST"));
        });
        mark = *std::min_element(sent.begin(), sent.end(), [](const auto &a, const auto &b) {
            return a.load() < b.load();
        });
        postedAfter = waitFor([&] { return everyWriterAt(mark + 10); });
    }
    stop = true;
    for (std::thread &t : writers)
        t.join();
    QVERIFY2(started, "the writers made no progress through nginx");
    QVERIFY2(killed, "SIGKILL did not end the server");
    QVERIFY2(restarted, qPrintable(m_servers[0].log()));
    QVERIFY2(servedAgain, "nginx sent no save to the restarted server within 60 s");
    QVERIFY2(postedAfter, "the writers stalled after the restart, or used up their pairs");

    const QHash<QString, QString> after = crossReference(m_db);
    const QString audit = m_db.scalar(QStringLiteral(
        "SELECT string_agg(VendorID || ':' || EmployeeID || ':' || Action, ',' ORDER BY ID) "
        "FROM VendorEmployeeAudit WHERE ID > %1").arg(auditBefore)).toString();
    QHash<QString, int> auditRows;
    for (const QString &row : audit.split(u',', Qt::SkipEmptyParts))
        ++auditRows[row];

    int posts = 0, answered = 0, inEffect = 0, unansweredApplied = 0, unansweredAbsent = 0;
    int otherStatus = 0, partial = 0, answeredMissing = 0, auditWrong = 0;
    QSet<QString> posted;
    for (int w = 0; w < writerCount; ++w) {
        for (int i = 0; i < int(statuses[w].size()); ++i) {
            const QString link = pairKey(writerVendor, linkedBy(w, i));
            const QString unlink = pairKey(writerVendor, unlinkedBy(w, i));
            posted << link << unlink;
            ++posts;
            const bool linkIn = after.contains(link), unlinkIn = !after.contains(unlink);
            const bool applied = linkIn && unlinkIn;
            if (linkIn != unlinkIn)
                ++partial;
            const int rows = applied ? 1 : 0;
            if (auditRows.value(link + QStringLiteral(":link")) != rows ||
                auditRows.value(unlink + QStringLiteral(":unlink")) != rows)
                ++auditWrong;
            const int status = statuses[w][i];
            if (status == 200) {
                ++answered;
                applied ? ++inEffect : ++answeredMissing;
            } else if (status == 0 || status == 502 || status == 504) {
                applied ? ++unansweredApplied : ++unansweredAbsent;
            } else {
                ++otherStatus;
                qWarning("writer %d, post %d: status %d", w, i, status);
            }
        }
    }
    // Nothing else: every pair no post named is as it was, and every audit row is a post's.
    int otherChanged = 0;
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (!posted.contains(it.key()) && after.value(it.key()) != it.value())
            ++otherChanged;
    }
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!posted.contains(it.key()) && !before.contains(it.key()))
            ++otherChanged;
    }
    const int auditTotal = int(audit.count(u',')) + (audit.isEmpty() ? 0 : 1);
    // nginx's X-Forwarded-For, from a trusted proxy, names the writer rather than nginx.
    const qint64 foreignAddress =
        m_db.scalar(QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit WHERE ID > %1 AND "
                                   "ClientAddress <> '127.0.0.' || (2 + (EmployeeID - 1) / %2)")
                        .arg(auditBefore)
                        .arg(2 * postsPerWriter))
            .toLongLong();
    const int auditExpected = 2 * (inEffect + unansweredApplied);

    qInfo("failover through nginx: %d posts sent, %d answered 200, %d of those in effect; "
          "unanswered: %d applied, %d absent; other statuses: %d; partly applied: %d; "
          "anything else changed: %d; audit rows %d for %d changes",
          posts, answered, inEffect, unansweredApplied, unansweredAbsent, otherStatus, partial,
          otherChanged, auditTotal, auditExpected);
    QCOMPARE(answeredMissing, 0);
    QCOMPARE(partial, 0);
    QCOMPARE(otherStatus, 0);
    QCOMPARE(auditWrong, 0);
    QCOMPARE(otherChanged, 0);
    QCOMPARE(auditTotal, auditExpected);
    QCOMPARE(foreignAddress, qint64(0));
    QVERIFY(answered > 0);
}

bool tst_DeployTopology::clusterExec(const QString &sql)
{
    PGconn *conn = PQconnectdb(qgetenv("KVE_TEST_POSTGRES_URL").constData());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
        PGresult *result = PQexec(conn, sql.toUtf8().constData());
        ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        if (!ok)
            qWarning("%s: %s", qPrintable(sql), PQresultErrorMessage(result));
        PQclear(result);
    }
    PQfinish(conn);
    return ok;
}

void tst_DeployTopology::healthzWithoutTheDatabase()
{
    // The database refuses new connections and drops the ones it has: the server says 503 (or
    // cannot answer in time), then 200 again once the database is back.
    const QString name = m_db.scalar(QStringLiteral("SELECT current_database()")).toString();
    QVERIFY(!name.isEmpty());
    QVERIFY(clusterExec(QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS false").arg(name)));
    QVERIFY(clusterExec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                       "WHERE datname = '%1'").arg(name)));
    const HttpReply down = httpRequest(m_servers[1].port(), "GET", "/healthz");
    QVERIFY(clusterExec(QStringLiteral("ALTER DATABASE %1 ALLOW_CONNECTIONS true").arg(name)));
    QVERIFY2(down.status == 503 || down.status == 0,
             qPrintable(QStringLiteral("/healthz without its database: %1").arg(down.status)));
    QTRY_COMPARE_WITH_TIMEOUT(httpRequest(m_servers[1].port(), "GET", "/healthz").status, 200,
                              30000);
}

QTEST_MAIN(tst_DeployTopology)
#include "tst_deploytopology.moc"
