// A real browser against the server: pages from another loopback origin that post a link
// cross-site, by a form that submits itself and by fetch() in no-cors mode. Refused unless the
// server lists the page's origin, and then made, so the test can tell the two apart.

#include "ServerProcess.h"
#include "TestDatabase.h"

#include "http/HttpServer.h"

#include <QtTest>

#include <atomic>
#include <memory>

using namespace kvetest;
namespace http = vendoremp::http;

namespace {

const char *const chromium = "/usr/bin/chromium";

// The page a site foreign to the server would serve; target is the server's page URL.
std::string attackPage(const std::string &kind, const std::string &target, qint64 employee)
{
    const std::string statement =
        formEncode(insertStatement(12, employee)).toStdString();
    if (kind == "form")
        return "<!doctype html><form method=post action='" + target +
               "' enctype='application/x-www-form-urlencoded'>"
               "<input type=hidden name=SQL value='" +
               insertStatement(12, employee).toStdString() +
               "'></form><script>document.forms[0].submit()</script>";
    return "<!doctype html><script>fetch('" + target +
           "', {method: 'POST', mode: 'no-cors', headers: {'Content-Type': "
           "'application/x-www-form-urlencoded'}, body: 'SQL=" +
           statement + "'}).finally(() => { document.title = 'sent' })</script>";
}

} // namespace

class tst_BrowserCrossSite : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void crossSitePosts_data();
    void crossSitePosts();

private:
    bool runBrowser(const QString &url);

    std::unique_ptr<http::Server> m_pages;
    std::atomic<quint16> m_serverPort{0};
    quint16 m_pagePort = 0;
};

void tst_BrowserCrossSite::initTestCase()
{
    QVERIFY2(QFile::exists(QLatin1String(chromium)), "chromium is missing (tools/install-deps)");
    // 127.0.0.2: another origin, and another site, than the server's 127.0.0.1.
    m_pages = std::make_unique<http::Server>([this](const http::Request &request) {
        const std::string target =
            "http://127.0.0.1:" + std::to_string(m_serverPort.load()) + "/VendorEmployee.asp";
        http::Response r;
        r.contentType = "text/html; charset=utf-8";
        const std::string kind = request.path == "/form.html" ? "form" : "fetch";
        r.body = attackPage(kind, target, kind == "form" ? 101 : 103);
        return r;
    });
    m_pagePort = m_pages->listen("127.0.0.2", 0);
}

bool tst_BrowserCrossSite::runBrowser(const QString &url)
{
    QTemporaryDir profile;
    QProcess browser;
    browser.start(QLatin1String(chromium),
                  {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                   QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                   QStringLiteral("--no-first-run"),
                   QStringLiteral("--disable-background-networking"),
                   QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                   QStringLiteral("--user-data-dir=") + profile.path(),
                   QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--dump-dom"),
                   url});
    if (!browser.waitForFinished(90000)) {
        browser.kill();
        browser.waitForFinished(5000);
        qWarning("chromium did not finish: %s", browser.readAllStandardError().constData());
        return false;
    }
    return browser.exitStatus() == QProcess::NormalExit;
}

void tst_BrowserCrossSite::crossSitePosts_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<qint64>("employee");
    QTest::newRow("form that submits itself") << QStringLiteral("form.html") << qint64(101);
    QTest::newRow("fetch, no-cors") << QStringLiteral("fetch.html") << qint64(103);
}

void tst_BrowserCrossSite::crossSitePosts()
{
    QFETCH(QString, page);
    QFETCH(qint64, employee);
    TestDatabase db;
    QVERIFY2(db.create(TestDatabase::Kind::Sqlite), qPrintable(db.error()));
    const QString pageOrigin = QStringLiteral("http://127.0.0.2:%1").arg(m_pagePort);
    const QString pageUrl = pageOrigin + '/' + page;
    const QString links = QStringLiteral("SELECT count(*) FROM VendorEmployeeCrossReference");
    const QString linked = links + QStringLiteral(" WHERE VendorID = 12 AND EmployeeID = %1")
                                       .arg(employee);
    const QString audit = QStringLiteral("SELECT count(*) FROM VendorEmployeeAudit");

    for (const bool listed : {false, true}) {
        ServerProcess server;
        QStringList arguments{QStringLiteral("--database"), db.serverArgument()};
        if (!listed)
            arguments << QStringLiteral("--seed") << QStringLiteral("demo");
        else
            arguments << QStringLiteral("--allow-origin") << pageOrigin;
        QVERIFY2(server.start(arguments), qPrintable(server.log()));
        m_serverPort = server.port();
        QVERIFY(runBrowser(pageUrl));
        // The browser did reach the server: refused or applied, never silent.
        const QString expected = listed ? QStringLiteral("POST /VendorEmployee.asp 200")
                                        : QStringLiteral("POST /VendorEmployee.asp 403");
        QVERIFY2(server.log().contains(expected), qPrintable(server.log()));
        QCOMPARE(db.scalar(links).toLongLong(), 25 + 9 + 3 + (listed ? 1 : 0));
        QCOMPARE(db.scalar(linked).toLongLong(), listed ? 1 : 0);
        QCOMPARE(db.scalar(audit).toLongLong(), listed ? 1 : 0);
    }
}

QTEST_GUILESS_MAIN(tst_BrowserCrossSite)
#include "tst_browsercrosssite.moc"
