// Concurrent writers against vendoremp-server on SQLite and on PostgreSQL: no link is lost,
// doubled or invented, no writer ever sees the database busy, and two clients inserting the same
// link at once leave exactly one row.
//
// KVE_NOTHINGLOST_POSTS sets the posts per writer (default 1000).

#include "RawHttp.h"
#include "ServerProcess.h"
#include "TestDatabase.h"

#include <QtTest>

#include <atomic>
#include <barrier>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using namespace kvetest;
using namespace std::chrono_literals;
using raw::Clock;

namespace {

constexpr int kWriters = 16;
constexpr int kEmployees = 2000;   // generated seed: vendor 1 linked to every 4th, vendor 2 to even
constexpr int kOwnPerWriter = 100; // employees 1..1600 of vendor 2: each writer owns 100
constexpr int kSharedFirst = 1601; // employees 1601..1700 of vendor 1: every writer writes them
constexpr int kSharedCount = 100;

struct Change
{
    bool link;
    int vendor;
    std::vector<int> employees;
};

std::string encode(const std::string &text)
{
    return formEncode(QByteArray::fromStdString(text)).toStdString();
}

std::string bodyOf(const std::vector<Change> &changes)
{
    std::string body;
    for (const Change &c : changes) {
        if (c.link) {
            body +=
                "SQL=" + encode(insertStatement(c.vendor, c.employees.front()).toStdString()) + '&';
        } else {
            const QList<qint64> ids(c.employees.begin(), c.employees.end());
            body += "SQL=" + encode(deleteStatement(c.vendor, ids).toStdString()) + '&';
        }
    }
    return body;
}

// "3 employees linked, 1 unlinked." -> (3, 1); (-1, -1) when the text is anything else.
std::pair<long, long> summaryOf(const std::string &body)
{
    long linked = -1, unlinked = -1;
    char word[16];
    if (std::sscanf(body.c_str(), "%ld %15s linked, %ld unlinked.", &linked, word, &unlinked) != 3)
        return {-1, -1};
    return {linked, unlinked};
}

// One keep-alive connection per writer; a new one when the server closed the old.
class Client
{
public:
    explicit Client(std::uint16_t port) : m_port(port) {}

    std::string post(const std::string &body)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto deadline = Clock::now() + 30s;
            if (!m_connection.open())
                m_connection = raw::Connection(m_port);
            const std::string request =
                "POST /VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                "application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body;
            if (m_connection.send(request, deadline) == request.size()) {
                std::string answer = m_connection.readAnswer(deadline);
                if (!answer.empty())
                    return answer;
            }
            // Closed between two requests (the server's idle timeout): once more, fresh.
            m_connection.close();
        }
        return {};
    }

private:
    std::uint16_t m_port;
    raw::Connection m_connection;
};

} // namespace

class tst_NothingLost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void concurrentWriters_data() { backends(); }
    void concurrentWriters();
    void sameLinkAtOnce_data() { backends(); }
    void sameLinkAtOnce();

private:
    static void backends();
    bool startServer();
    std::set<int> linksOf(int vendor, int first, int last);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
};

void tst_NothingLost::backends()
{
    QTest::addColumn<int>("backend");
    QTest::newRow("sqlite") << int(TestDatabase::Kind::Sqlite);
    QTest::newRow("postgresql") << int(TestDatabase::Kind::Postgres);
}

bool tst_NothingLost::startServer()
{
    QFETCH(int, backend);
    const auto kind = TestDatabase::Kind(backend);
    m_server.reset();
    m_db = std::make_unique<TestDatabase>();
    if (kind == TestDatabase::Kind::Postgres && !TestDatabase::postgresUnavailable().isEmpty()) {
        QTest::qSkip(qPrintable(TestDatabase::postgresUnavailable()), __FILE__, __LINE__);
        return false;
    }
    if (!m_db->create(kind)) {
        QTest::qFail(qPrintable(m_db->error()), __FILE__, __LINE__);
        return false;
    }
    m_server = std::make_unique<ServerProcess>();
    if (!m_server->start({QStringLiteral("--database"), m_db->serverArgument(),
                          QStringLiteral("--seed"), QString::number(kEmployees)})) {
        QTest::qFail(qPrintable(m_server->log()), __FILE__, __LINE__);
        return false;
    }
    return true;
}

std::set<int> tst_NothingLost::linksOf(int vendor, int first, int last)
{
    const QVariant ids = m_db->scalar(
        QStringLiteral("SELECT ','||%4(CAST(EmployeeID AS TEXT), ',')||',' FROM (SELECT EmployeeID "
                       "FROM VendorEmployeeCrossReference WHERE VendorID = %1 AND EmployeeID "
                       "BETWEEN %2 AND %3 ORDER BY EmployeeID) AS t")
            .arg(vendor)
            .arg(first)
            .arg(last)
            .arg(m_db->kind() == TestDatabase::Kind::Sqlite ? u"group_concat"_qs
                                                            : u"string_agg"_qs));
    std::set<int> out;
    for (const QString &id : ids.toString().split(u',', Qt::SkipEmptyParts))
        out.insert(id.toInt());
    return out;
}

void tst_NothingLost::concurrentWriters()
{
    if (!startServer())
        return;
    const int posts = qEnvironmentVariableIsSet("KVE_NOTHINGLOST_POSTS")
                          ? qEnvironmentVariableIntValue("KVE_NOTHINGLOST_POSTS")
                          : 1000;
    const std::set<int> sharedBefore = linksOf(1, kSharedFirst, kSharedFirst + kSharedCount - 1);
    QCOMPARE(sharedBefore.size(), std::size_t(kSharedCount / 4));

    struct Outcome
    {
        std::set<int> own;     // the writer's model of its own employees' links
        long sharedLinked = 0; // what the server reported for the shared employees
        long sharedUnlinked = 0;
        std::vector<std::string> failures;
    };
    std::vector<Outcome> outcomes(kWriters);
    for (int w = 0; w < kWriters; ++w)
        outcomes[std::size_t(w)].own = linksOf(2, w * kOwnPerWriter + 1, (w + 1) * kOwnPerWriter);
    const std::set<int> vendor2Rest = linksOf(2, kWriters * kOwnPerWriter + 1, kEmployees);
    // The overlapping phase leaves the shared employees in an order-dependent state; after the
    // barrier each writer settles its own slice of them, so the final table has one right answer.
    std::barrier settle(kWriters);
    const auto start = Clock::now();
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            Outcome &out = outcomes[std::size_t(w)];
            Client client(m_server->port());
            std::mt19937 random(std::uint32_t(1000 + w));
            const int ownFirst = w * kOwnPerWriter + 1;
            const auto pick = [&](int first, int count) {
                return first + int(random() % std::uint32_t(count));
            };
            const auto send = [&](const std::vector<Change> &changes, bool shared) {
                const std::string answer = client.post(bodyOf(changes));
                const auto [linked, unlinked] = summaryOf(raw::bodyOf(answer));
                if (raw::statusOf(answer) != 200 || linked < 0) {
                    out.failures.push_back(answer.empty() ? "no answer" : answer.substr(0, 300));
                    return false;
                }
                if (shared) {
                    out.sharedLinked += linked;
                    out.sharedUnlinked += unlinked;
                }
                return true;
            };
            for (int p = 0; p < posts && out.failures.empty(); ++p) {
                std::vector<Change> changes;
                const bool shared = p % 2 == 1;
                if (shared) {
                    // Overlapping: the same 100 employees of vendor 1 for every writer.
                    for (int k = 0; k < 3; ++k)
                        changes.push_back({true, 1, {pick(kSharedFirst, kSharedCount)}});
                    changes.push_back(
                        {false,
                         1,
                         {pick(kSharedFirst, kSharedCount), pick(kSharedFirst, kSharedCount)}});
                } else {
                    // Disjoint: the writer's own employees of vendor 2, the model kept alongside.
                    std::set<int> model = out.own;
                    for (int k = 0; k < 3; ++k) {
                        const int e = pick(ownFirst, kOwnPerWriter);
                        changes.push_back({true, 2, {e}});
                        model.insert(e);
                    }
                    const int a = pick(ownFirst, kOwnPerWriter), b = pick(ownFirst, kOwnPerWriter);
                    changes.push_back({false, 2, {a, b}});
                    model.erase(a);
                    model.erase(b);
                    if (send(changes, false))
                        out.own = std::move(model);
                    continue;
                }
                send(changes, true);
            }
            settle.arrive_and_wait();
            // Settling: employee e of the shared ones belongs to writer e % 16; even ones end
            // linked, odd ones unlinked.
            for (int e = kSharedFirst; e < kSharedFirst + kSharedCount; ++e) {
                if (e % kWriters != w)
                    continue;
                if (e % 2 == 0)
                    send({{true, 1, {e}}}, true);
                else
                    send({{false, 1, {e}}}, true);
            }
        });
    }
    for (std::thread &t : writers)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::set<int> expectedOwn;
    std::vector<std::string> failures;
    long sharedLinked = 0, sharedUnlinked = 0;
    for (const Outcome &o : outcomes) {
        expectedOwn.insert(o.own.begin(), o.own.end());
        failures.insert(failures.end(), o.failures.begin(), o.failures.end());
        sharedLinked += o.sharedLinked;
        sharedUnlinked += o.sharedUnlinked;
    }
    qInfo("%d writers x %d posts in %.1f s (%.0f posts/s), %zu failed", kWriters, posts, seconds,
          kWriters * posts / seconds, failures.size());
    QVERIFY2(failures.empty(), failures.empty() ? "" : failures.front().c_str());

    // Disjoint: exactly the model, nothing more, nothing less.
    QCOMPARE(linksOf(2, 1, kWriters * kOwnPerWriter), expectedOwn);
    QCOMPARE(linksOf(2, kWriters * kOwnPerWriter + 1, kEmployees), vendor2Rest);
    // Overlapping: every link the server reported made or removed is accounted for, and the
    // settled state is exact.
    const std::set<int> sharedAfter = linksOf(1, kSharedFirst, kSharedFirst + kSharedCount - 1);
    QCOMPARE(long(sharedBefore.size()) + sharedLinked - sharedUnlinked, long(sharedAfter.size()));
    std::set<int> settled;
    for (int e = kSharedFirst; e < kSharedFirst + kSharedCount; ++e)
        if (e % 2 == 0)
            settled.insert(e);
    QCOMPARE(sharedAfter, settled);
    // Nobody else's links moved: vendor 1 outside the shared range is as seeded.
    std::set<int> seeded;
    for (int e = 4; e <= kEmployees; e += 4)
        if (e < kSharedFirst || e >= kSharedFirst + kSharedCount)
            seeded.insert(e);
    std::set<int> rest = linksOf(1, 1, kSharedFirst - 1);
    rest.merge(linksOf(1, kSharedFirst + kSharedCount, kEmployees));
    QCOMPARE(rest, seeded);
    QCOMPARE(m_db->scalar(u"SELECT count(*) FROM VendorEmployeeCrossReference"_qs).toLongLong(),
             qint64(expectedOwn.size() + vendor2Rest.size() + sharedAfter.size() + seeded.size()));
}

void tst_NothingLost::sameLinkAtOnce()
{
    if (!startServer())
        return;
    int failures = 0;
    QStringList wrong;
    for (int round = 0; round < 50; ++round) {
        const int employee = 1 + round * 14; // odd: vendor 2 holds no link to it yet
        std::array<std::string, 2> answers;
        std::latch ready(2);
        std::array<std::thread, 2> clients;
        for (int c = 0; c < 2; ++c) {
            clients[std::size_t(c)] = std::thread([&, c] {
                Client client(m_server->port());
                const std::string body = bodyOf({{true, 2, {employee}}});
                ready.arrive_and_wait();
                answers[std::size_t(c)] = client.post(body);
            });
        }
        for (std::thread &t : clients)
            t.join();
        long linked = 0;
        for (const std::string &answer : answers) {
            if (raw::statusOf(answer) != 200)
                ++failures;
            linked += summaryOf(raw::bodyOf(answer)).first;
        }
        const qint64 rows = m_db->scalar(QStringLiteral("SELECT count(*) FROM "
                                                        "VendorEmployeeCrossReference WHERE "
                                                        "VendorID = 2 AND EmployeeID = %1")
                                             .arg(employee))
                                .toLongLong();
        if (rows != 1 || linked != 1)
            wrong << QStringLiteral("round %1: %2 rows, %3 reported linked")
                         .arg(round)
                         .arg(rows)
                         .arg(linked);
    }
    QCOMPARE(failures, 0);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; ")));
    QCOMPARE(m_db->scalar(u"SELECT count(*) FROM VendorEmployeeCrossReference WHERE VendorID = 2 "
                          "AND EmployeeID % 2 = 1"_qs)
                 .toLongLong(),
             qint64(50));
}

QTEST_GUILESS_MAIN(tst_NothingLost)
#include "tst_nothinglost.moc"
