// kill -9 of vendoremp-server in the middle of large posts, over and over on one SQLite
// database: after each restart the database passes integrity_check, and each post is wholly
// applied or wholly absent; a post the client saw answered is applied.
//
// KVE_CRASH_ROUNDS sets the number of kills (default 100).

#include "RawHttp.h"
#include "ServerProcess.h"
#include "TestDatabase.h"

#include <QtTest>

#include <csignal>
#include <memory>
#include <random>
#include <set>
#include <thread>

using namespace kvetest;
using namespace std::chrono_literals;
using raw::Clock;

namespace {

constexpr int kEmployees = 3000;
using Links = std::set<int>;

std::string encode(const QByteArray &text)
{
    return formEncode(text).toStdString();
}

// Each vendor's links swing between two sets of 1000 employees: a post inserts every link of
// the other set (1000 statements) and deletes, in one statement, every link outside it.
Links swingSet(int which)
{
    Links out;
    for (int e = 1; e <= kEmployees; ++e)
        if (e % 3 == which)
            out.insert(e);
    return out;
}

std::string swingPost(int vendor, const Links &current, const Links &target)
{
    std::string body;
    for (int e : target)
        body += "SQL=" + encode(insertStatement(vendor, e)) + '&';
    QList<qint64> gone;
    for (int e : current)
        if (!target.count(e))
            gone.append(e);
    if (!gone.isEmpty())
        body += "SQL=" + encode(deleteStatement(vendor, gone)) + '&';
    return body;
}

} // namespace

class tst_CrashSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedMidPost();

private:
    Links linksOf(int vendor);
    bool start();

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<ServerProcess> m_server;
};

Links tst_CrashSafety::linksOf(int vendor)
{
    const QVariant ids =
        m_db->scalar(QStringLiteral("SELECT group_concat(EmployeeID) FROM (SELECT EmployeeID FROM "
                                    "VendorEmployeeCrossReference WHERE VendorID = %1 ORDER BY "
                                    "EmployeeID)")
                         .arg(vendor));
    Links out;
    for (const QString &id : ids.toString().split(u',', Qt::SkipEmptyParts))
        out.insert(id.toInt());
    return out;
}

bool tst_CrashSafety::start()
{
    return m_server->start({QStringLiteral("--database"), m_db->serverArgument(),
                            QStringLiteral("--seed"), QString::number(kEmployees)});
}

void tst_CrashSafety::killedMidPost()
{
    const int rounds = qEnvironmentVariableIsSet("KVE_CRASH_ROUNDS")
                           ? qEnvironmentVariableIntValue("KVE_CRASH_ROUNDS")
                           : 100;
    m_db = std::make_unique<TestDatabase>();
    QVERIFY2(m_db->create(TestDatabase::Kind::Sqlite), qPrintable(m_db->error()));
    m_server = std::make_unique<ServerProcess>();
    QVERIFY2(start(), qPrintable(m_server->log()));

    const std::array<Links, 2> sets = {swingSet(0), swingSet(1)};
    const std::array<int, 2> vendors = {1, 2};
    std::array<Links, 2> current = {linksOf(1), linksOf(2)};
    const auto targetOf = [&](int v) { return current[v] == sets[0] ? sets[1] : sets[0]; };

    // One post of each vendor undisturbed, to learn how long a post takes.
    const auto t0 = Clock::now();
    for (int v = 0; v < 2; ++v) {
        const Links target = targetOf(v);
        const std::string answer =
            raw::postForm(m_server->port(), swingPost(vendors[v], current[v], target));
        QCOMPARE(raw::statusOf(answer), 200);
        current[v] = target;
        QCOMPARE(linksOf(vendors[v]), target);
    }
    const auto postTime = (Clock::now() - t0) / 2;
    qInfo("a post of %zu statements takes %.1f ms", sets[0].size() + 1,
          std::chrono::duration<double, std::milli>(postTime).count());

    std::mt19937 random(42);
    int applied = 0, absent = 0, answered = 0;
    for (int round = 0; round < rounds; ++round) {
        // Both vendors post at once; the kill lands anywhere from the first byte sent to a
        // little after a post would normally have finished.
        std::array<Links, 2> target = {targetOf(0), targetOf(1)};
        std::array<std::string, 2> answers;
        std::array<std::thread, 2> posters;
        const std::uint16_t port = m_server->port();
        for (int v = 0; v < 2; ++v) {
            posters[std::size_t(v)] =
                std::thread([&, v, body = swingPost(vendors[v], current[v], target[v])] {
                    answers[std::size_t(v)] = raw::postForm(port, body, 20s);
                });
        }
        const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(
            postTime * std::uniform_real_distribution<double>(0.0, 1.3)(random));
        std::this_thread::sleep_for(delay);
        m_server->stop(5000, SIGKILL);
        for (std::thread &t : posters)
            t.join();

        const QVariant check = m_db->scalar(QStringLiteral("PRAGMA integrity_check"));
        QCOMPARE(check.toString(), QStringLiteral("ok"));
        for (int v = 0; v < 2; ++v) {
            const Links now = linksOf(vendors[v]);
            const bool wasAnswered = raw::statusOf(answers[std::size_t(v)]) == 200;
            answered += wasAnswered;
            if (now == target[v]) {
                ++applied;
            } else {
                QVERIFY2(now == current[v],
                         qPrintable(QStringLiteral("round %1, vendor %2: %3 links, neither the "
                                                   "%4 before nor the %5 posted")
                                        .arg(round)
                                        .arg(vendors[v])
                                        .arg(now.size())
                                        .arg(current[v].size())
                                        .arg(target[v].size())));
                QVERIFY2(!wasAnswered, "a post answered 200 was lost");
                ++absent;
            }
            current[v] = now;
        }
        QVERIFY2(start(), qPrintable(m_server->log()));
    }
    qInfo("%d kills, %d posts: %d wholly applied (%d of them answered), %d wholly absent", rounds,
          2 * rounds, applied, answered, absent);
    // The kills must have landed on both sides of the commit, or the test proved little.
    if (rounds >= 20) {
        QVERIFY(applied > 0);
        QVERIFY(absent > 0);
    }
    // The server still serves the database it was killed on.
    QCOMPARE(raw::statusOf(raw::get(m_server->port(), "/VendorEmployee.asp?VendorID=1")), 200);
}

QTEST_GUILESS_MAIN(tst_CrashSafety)
#include "tst_crashsafety.moc"
