// vendoremp-server as a process under hostile clients on loopback: broken and endless requests,
// a thousand idle connections, malformed form encoding, and a corpus of hostile statements. The
// server must answer or close, stay responsive, and never change the database for any of them.
// (An oversized body, 413 with nothing applied, is tst_serverprocess's bodyLimit.)

#include "RawHttp.h"
#include "ServerProcess.h"
#include "TestDatabase.h"

#include <QtTest>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace kvetest;
using namespace std::chrono_literals;
using raw::Clock;

namespace {

// Generated seed of 200: vendors 1 and 2, employees 1..200, vendor 1 linked to every fourth.
const QStringList seedArguments = {QStringLiteral("--seed"), QStringLiteral("200")};

const std::string insertHead =
    "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES (";
const std::string deleteHead = "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=";

std::string insertOf(const std::string &vendor, const std::string &employee)
{
    return insertHead + vendor + ',' + employee + ",GETDATE()) ";
}

std::string deleteOf(const std::string &vendor, const std::string &ids)
{
    return deleteHead + vendor + " AND EmployeeID IN(" + ids + ')';
}

std::string encoded(const std::string &statement)
{
    return formEncode(QByteArray::fromStdString(statement)).toStdString();
}

// Both allowed statements, each of which would change the seeded database: vendor 2 holds no
// link, vendor 1 holds 4 and 8.
const std::string goodInsert = insertOf("2", "5");
const std::string goodDelete = deleteOf("1", "4,8");

// Statements the checker must refuse, built by mutating the two allowed ones in every way a
// hostile client might: numbers replaced, statements stacked, comments inserted at every word
// boundary, other tables, keyword case, spacing, and whole foreign statements.
std::vector<std::string> hostileCorpus()
{
    std::vector<std::string> out;
    const std::vector<std::string> numbers = {"'5'",
                                              "\"5\"",
                                              "5'",
                                              "0x5",
                                              "5e0",
                                              "5.0",
                                              "+5",
                                              " 5",
                                              "5 ",
                                              "(5)",
                                              "5--",
                                              "5/**/",
                                              "NULL",
                                              "abc",
                                              "",
                                              "5 OR 1=1",
                                              "5) OR (1=1",
                                              "9223372036854775808",
                                              "-9223372036854775809",
                                              "99999999999999999999",
                                              "\xef\xbc\x95",
                                              "5;",
                                              "CAST(5 AS INTEGER)",
                                              "(SELECT 5)",
                                              "5 UNION SELECT ID FROM employees",
                                              "ID",
                                              "EmployeeID",
                                              "?",
                                              ":a",
                                              "$1",
                                              std::string("5\0", 2),
                                              "--5",
                                              "5#",
                                              "0b101",
                                              "5,,6"};
    // Every numeric slot of each allowed statement, each replaced by each hostile number.
    for (const std::string &n : numbers) {
        out.push_back(insertOf(n, "5"));
        out.push_back(insertOf("2", n));
        out.push_back(deleteOf(n, "4,8"));
        out.push_back(deleteOf("1", n + ",8"));
        out.push_back(deleteOf("1", "4," + n));
    }
    const std::vector<std::string> tails = {"DROP TABLE employees",
                                            "DELETE FROM VendorEmployeeCrossReference",
                                            "UPDATE employees SET active=0",
                                            "INSERT INTO vendors VALUES (99,'x')",
                                            "SELECT 1",
                                            "PRAGMA writable_schema=1",
                                            "ATTACH DATABASE 'x.db' AS x",
                                            "CREATE TABLE x (a)",
                                            "VACUUM",
                                            "COMMIT",
                                            "ROLLBACK",
                                            "BEGIN"};
    const std::vector<std::string> separators = {";", "; ", ";\n", " ;"};
    for (const std::string &base : {goodInsert, goodDelete})
        for (const std::string &tail : tails)
            for (const std::string &sep : separators)
                out.push_back(base + sep + tail);
    const std::vector<std::string> comments = {"--", "-- x", "/**/", "/* x */",
                                               "#",  "/*",   "*/",   "--\n"};
    for (const std::string &base : {goodInsert, goodDelete}) {
        for (std::size_t at = 0; at <= base.size(); ++at) {
            if (at != base.size() && base[at] != ' ' && base[at] != ',' && base[at] != '(')
                continue;
            for (const std::string &comment : comments)
                out.push_back(base.substr(0, at) + comment + base.substr(at));
        }
    }
    const std::vector<std::string> tables = {"vendors",
                                             "employees",
                                             "sqlite_master",
                                             "VendorEmployeeCrossReference2",
                                             "\"VendorEmployeeCrossReference\"",
                                             "vendoremployeecrossreference",
                                             "main.VendorEmployeeCrossReference",
                                             "[VendorEmployeeCrossReference]",
                                             "`VendorEmployeeCrossReference`",
                                             "VendorEmployeeCrossReference x"};
    for (const std::string &table : tables) {
        std::string insert = goodInsert, del = goodDelete;
        insert.replace(insert.find("VendorEmployeeCrossReference"), 28, table);
        del.replace(del.find("VendorEmployeeCrossReference"), 28, table);
        out.push_back(insert);
        out.push_back(del);
    }
    // Keyword case and spacing: each word lowered, each blank doubled, a tab, a newline.
    for (const std::string &base : {goodInsert, goodDelete}) {
        std::size_t start = 0;
        while (start < base.size()) {
            std::size_t end = base.find_first_of(" (,)=", start);
            if (end == std::string::npos)
                end = base.size();
            std::string word = base.substr(start, end - start);
            std::string lowered = word;
            for (char &c : lowered)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lowered != word)
                out.push_back(base.substr(0, start) + lowered + base.substr(end));
            start = end + 1;
        }
        for (std::size_t at = 0; at + 1 < base.size(); ++at) {
            if (base[at] != ' ')
                continue;
            for (const char *blank : {"  ", "\t", "\n"})
                out.push_back(base.substr(0, at) + blank + base.substr(at + 1));
        }
        out.push_back(' ' + base);
        out.push_back(base + "  ");
        out.push_back(base + '\n');
    }
    for (const char *foreign :
         {"DROP TABLE VendorEmployeeCrossReference",
          "DELETE FROM VendorEmployeeCrossReference",
          "DELETE FROM VendorEmployeeCrossReference WHERE 1=1",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1",
          "UPDATE VendorEmployeeCrossReference SET VendorID=2",
          "INSERT INTO VendorEmployeeCrossReference SELECT 2, ID, 'x' FROM employees",
          "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
          "SELECT 2,ID,GETDATE() FROM employees",
          "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
          "VALUES (2,5,GETDATE()),(2,6,GETDATE()) ",
          "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
          "VALUES (2,5,'2000-01-01') ",
          "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID) VALUES (2,5)",
          "INSERT OR REPLACE INTO VendorEmployeeCrossReference (VendorID,EmployeeID,"
          "RecordLastUpdated) VALUES (2,5,GETDATE()) ",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 AND EmployeeID IN()",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 AND EmployeeID IN(4,)",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 OR EmployeeID IN(4)",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 AND EmployeeID NOT IN(4)",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 AND EmployeeID IN(4))",
          "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=1 AND EmployeeID IN((4))",
          "SELECT * FROM employees",
          "PRAGMA integrity_check",
          "VACUUM INTO 'x.db'",
          "ALTER TABLE employees RENAME TO x",
          "CREATE TRIGGER t AFTER INSERT ON vendors "
          "BEGIN DELETE FROM employees; END",
          "EXEC xp_cmdshell 'id'",
          "COPY employees TO '/tmp/x'",
          "'; DROP TABLE employees; --",
          "\" OR \"\"=\"",
          "1; SELECT pg_sleep(10)",
          "SELECT load_extension('x')",
          " ",
          ""}) {
        out.push_back(foreign);
    }
    return out;
}

} // namespace

class tst_ServerAbuse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void endlessHeaderLine();
    void tooManyHeaders_data();
    void tooManyHeaders();
    void chunkedBodyThatNeverEnds();
    void thousandIdleConnections();
    void malformedPercentEncoding_data();
    void malformedPercentEncoding();
    void hostileStatements();
    void smuggledRequest_data();
    void smuggledRequest();
    void bodiesOutOfProportion();

private:
    // Every table's content in one text, so that any change at all shows.
    QString fingerprint();
    // A normal GET, answered 200 with the vendor's document.
    bool answersNormally(std::chrono::milliseconds timeout = 6s);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
    QString m_before;
};

void tst_ServerAbuse::init()
{
    m_server.reset();
    m_db = std::make_unique<TestDatabase>();
    QVERIFY2(m_db->create(TestDatabase::Kind::Sqlite), qPrintable(m_db->error()));
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(m_server->start(QStringList{QStringLiteral("--database"), m_db->serverArgument()} +
                             seedArguments),
             qPrintable(m_server->log()));
    m_before = fingerprint();
    QVERIFY(!m_before.isEmpty());
}

void tst_ServerAbuse::cleanup()
{
    // Whatever the test threw at it, the server still answers and nothing was changed.
    if (m_server) {
        QVERIFY(answersNormally());
        QCOMPARE(fingerprint(), m_before);
    }
    m_server.reset();
    m_db.reset();
}

QString tst_ServerAbuse::fingerprint()
{
    const QVariant v = m_db->scalar(QStringLiteral(
        "SELECT (SELECT group_concat(VendorID || '/' || EmployeeID || '/' || RecordLastUpdated, "
        "' ') FROM VendorEmployeeCrossReference) || '|' || (SELECT group_concat(ID || '/' || "
        "name || '/' || active, ' ') FROM employees) || '|' || (SELECT group_concat(ID || '/' "
        "|| name, ' ') FROM vendors) || '|' || (SELECT group_concat(type || '/' || name, ' ') "
        "FROM sqlite_master)"));
    if (!v.isValid())
        qWarning("fingerprint: %s", qPrintable(m_db->error()));
    return v.toString();
}

bool tst_ServerAbuse::answersNormally(std::chrono::milliseconds timeout)
{
    const std::string answer =
        raw::get(m_server->port(), "/VendorEmployee.asp?VendorID=1", timeout);
    return raw::statusOf(answer) == 200 &&
           raw::bodyOf(answer).find("<Employee>") != std::string::npos;
}

void tst_ServerAbuse::endlessHeaderLine()
{
    raw::Connection c(m_server->port());
    QVERIFY(c.open());
    const auto start = Clock::now();
    const auto deadline = start + 15s;
    c.send("GET /VendorEmployee.asp?VendorID=1 HTTP/1.1\r\nX-Long: ", deadline);
    const std::string piece(4096, 'a');
    // Bounded by time alone: past the 16 KiB header limit the server answers 431, discards
    // what still comes for a moment (so that the answer is not lost to a reset), then closes,
    // and on an idle machine loopback carries more than a GiB in that moment.
    bool closed = false;
    while (Clock::now() < deadline && !closed)
        closed = c.send(piece, Clock::now() + 2s) < piece.size();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    QVERIFY2(closed, "the server kept reading an endless header line");
    QVERIFY2(took < 5s, qPrintable(QString::number(took.count())));
    const std::string answer = c.readAll(Clock::now() + 2s);
    QVERIFY2(answer.empty() || raw::statusOf(answer) == 431, answer.substr(0, 80).c_str());
}

void tst_ServerAbuse::tooManyHeaders_data()
{
    QTest::addColumn<int>("fields"); // besides Host and Connection
    QTest::addColumn<int>("status");
    QTest::newRow("98: allowed") << 98 << 200;
    QTest::newRow("99: over the limit") << 99 << 431;
    QTest::newRow("1000 tiny") << 1000 << 431;
}

void tst_ServerAbuse::tooManyHeaders()
{
    QFETCH(int, fields);
    QFETCH(int, status);
    std::string request =
        "GET /VendorEmployee.asp?VendorID=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; i < fields; ++i)
        request += "X" + std::to_string(i) + ": v\r\n";
    request += "\r\n";
    raw::Connection c(m_server->port());
    QVERIFY(c.open());
    const auto deadline = Clock::now() + 10s;
    c.send(request, deadline);
    QCOMPARE(raw::statusOf(c.readAll(deadline)), status);
}

void tst_ServerAbuse::chunkedBodyThatNeverEnds()
{
    // Its first chunk is a whole allowed statement; the body just never ends.
    const std::string first = "SQL=" + encoded(goodInsert) + '&';
    raw::Connection c(m_server->port());
    QVERIFY(c.open());
    const auto start = Clock::now();
    c.send("POST /VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n",
           start + 2s);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", first.size());
    c.send(size + first + "\r\n", start + 2s);
    // Then a small chunk every 200 ms: the read deadline is for the whole request, so dribbling
    // must not keep it alive. Bounded at 30 s.
    bool closed = false;
    while (!closed && Clock::now() - start < 30s) {
        if (c.send("1\r\n&\r\n", Clock::now() + 1s) == 0)
            closed = true;
        else
            closed = c.closedByPeer(Clock::now() + 200ms);
    }
    const auto took = Clock::now() - start;
    QVERIFY2(closed, "the server kept an endless body open for 30 s");
    // The server's read timeout is 10 s.
    QVERIFY2(took < 12s, qPrintable(QString::number(
                             std::chrono::duration_cast<std::chrono::milliseconds>(took).count())));
}

void tst_ServerAbuse::thousandIdleConnections()
{
    const qint64 pid = m_server->pid();
    const std::int64_t rssBefore = raw::residentBytes(pid);
    QVERIFY(rssBefore > 0);
    std::vector<raw::Connection> idle;
    idle.reserve(1000);
    // From eight addresses, each within the per-client cap.
    for (int i = 0; i < 1000; ++i) {
        const std::string from = "127.0.0." + std::to_string(2 + i % 8);
        idle.emplace_back(m_server->port(), from.c_str());
        QVERIFY(idle.back().open());
    }
    // Half of them have begun a request and stopped.
    for (std::size_t i = 0; i < idle.size(); i += 2)
        idle[i].send("GET /VendorEmployee.asp?Vendor", Clock::now() + 1s);
    QTest::qWait(500); // let the server accept them all

    const auto start = Clock::now();
    QVERIFY(answersNormally(6s));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    QVERIFY2(took < 6s, qPrintable(QString::number(took.count())));

    const std::int64_t growth = raw::residentBytes(pid) - rssBefore;
    qInfo("1000 idle connections: a normal request answered in %lld ms; RSS %+.1f MB",
          static_cast<long long>(took.count()), double(growth) / 1e6);
    QVERIFY2(growth < 50'000'000, qPrintable(QString::number(growth)));
    // They were all still held open by the server, not turned away.
    int open = 0;
    for (raw::Connection &c : idle)
        open += c.closedByPeer(Clock::now()) ? 0 : 1;
    QCOMPARE(open, 1000);
}

void tst_ServerAbuse::malformedPercentEncoding_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("text"); // the query of a GET, the body of a POST
    const QByteArray good = formEncode(QByteArray::fromStdString(goodInsert));
    QTest::newRow("lone %") << QByteArray("POST") << "SQL=" + good + "%";
    QTest::newRow("one digit") << QByteArray("POST") << "SQL=" + good + "%4";
    QTest::newRow("not hex") << QByteArray("POST") << "SQL=" + good + "%G1";
    QTest::newRow("%%") << QByteArray("POST") << "SQL=%%" + good;
    QTest::newRow("in the name") << QByteArray("POST") << "S%ZL=" + good;
    QTest::newRow("inside a statement")
        << QByteArray("POST") << "SQL=" + good.left(40) + "%2" + good.mid(40);
    QTest::newRow("second field bad")
        << QByteArray("POST") << "SQL=" + good + "&SQL=%" + formEncode("x");
    QTest::newRow("encoded NUL") << QByteArray("POST") << "SQL=" + good + "%00";
    QTest::newRow("invalid UTF-8") << QByteArray("POST") << "SQL=" + good + "%C3%28";
    QTest::newRow("query lone %") << QByteArray("GET") << QByteArray("VendorID=1%");
    QTest::newRow("query not hex") << QByteArray("GET") << QByteArray("VendorID=%Z1");
    QTest::newRow("query in the name") << QByteArray("GET") << QByteArray("Vendor%4=1");
}

void tst_ServerAbuse::malformedPercentEncoding()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, text);
    const std::string answer =
        method == "POST"
            ? raw::postForm(m_server->port(), text.toStdString(), 10s)
            : raw::get(m_server->port(), "/VendorEmployee.asp?" + text.toStdString(), 10s);
    QCOMPARE(raw::statusOf(answer), 400);
}

void tst_ServerAbuse::hostileStatements()
{
    const std::vector<std::string> corpus = hostileCorpus();
    QVERIFY2(corpus.size() >= 500, qPrintable(QString::number(corpus.size())));
    int refused = 0, accepted = 0, other = 0;
    QStringList acceptedTexts;
    for (const std::string &statement : corpus) {
        // Alone, and after an allowed statement in the same post: all or nothing.
        for (const std::string &body :
             {"SQL=" + encoded(statement) + '&',
              "SQL=" + encoded(goodDelete) + "&SQL=" + encoded(statement) + '&'}) {
            const int status = raw::statusOf(raw::postForm(m_server->port(), body, 10s));
            if (status == 400)
                ++refused;
            else if (status >= 200 && status < 300)
                ++accepted, acceptedTexts << QString::fromStdString(statement);
            else
                ++other;
        }
    }
    qInfo("%zu hostile statements, %d posts: %d refused, %d accepted, %d other", corpus.size(),
          refused + accepted + other, refused, accepted, other);
    QVERIFY2(acceptedTexts.isEmpty(), qPrintable(acceptedTexts.join(u" | ")));
    QCOMPARE(other, 0);
    QCOMPARE(fingerprint(), m_before);
}

void tst_ServerAbuse::smuggledRequest_data()
{
    QTest::addColumn<QByteArray>("framing");
    QTest::newRow("gzip") << QByteArray("Transfer-Encoding: gzip");
    QTest::newRow("coding and length") << QByteArray("Transfer-Encoding: chunked\r\nContent-Length: 0");
}

void tst_ServerAbuse::smuggledRequest()
{
    QFETCH(QByteArray, framing);
    // The body this server would take for the next request is a save that links; the cleanup
    // checks that the database is unchanged.
    const std::string save = "SQL=" + encoded(goodInsert) + '&';
    const std::string smuggled =
        "POST /VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(save.size()) + "\r\n\r\n" + save;
    raw::Connection c(m_server->port());
    QVERIFY(c.open());
    const auto deadline = Clock::now() + 10s;
    c.send("POST /VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\n" +
               framing.toStdString() + "\r\n\r\n" + smuggled,
           deadline);
    const std::string answers = c.readAll(deadline);
    QCOMPARE(raw::statusOf(answers), 400);
    QVERIFY2(answers.find("HTTP/1.1", 8) == std::string::npos, answers.c_str());
}

void tst_ServerAbuse::bodiesOutOfProportion()
{
    // Millions of empty fields: each would have been a decoded field before the first was
    // refused.
    std::string body;
    for (int i = 0; i < 8 * 1024 * 1024; ++i)
        body += "a&";
    const std::int64_t before = raw::residentBytes(m_server->pid(), true);
    QVERIFY(before > 0);
    std::vector<int> statuses(4);
    std::vector<std::thread> clients;
    for (int &status : statuses)
        clients.emplace_back([&] { status = raw::statusOf(raw::postForm(m_server->port(), body, 60s)); });
    for (std::thread &t : clients)
        t.join();
    const std::int64_t growth = raw::residentBytes(m_server->pid(), true) - before;
    qInfo("4 bodies of 16 MiB at once: peak RSS %+.0f MiB", double(growth) / (1 << 20));
    for (int status : statuses)
        QVERIFY2(status == 400 || status == 503, qPrintable(QString::number(status)));
    // Each body held once, with room to spare for the sanitizers; it was 2 GiB.
    QVERIFY2(growth < 512 << 20, qPrintable(QString::number(growth)));
}

QTEST_GUILESS_MAIN(tst_ServerAbuse)
#include "tst_serverabuse.moc"
