// The transfer component on its own, against a loopback fixture server.

#include "platform/Transfer.h"
#include "support/FixtureServer.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace KavriVendorEmp::platform;
using kvetest::FixtureServer;

namespace {

const QString kForm = QStringLiteral("Content-Type: application/x-www-form-urlencoded");

FixtureServer::Response reply(const QByteArray &body, int status = 200)
{
    FixtureServer::Response response;
    response.status = status;
    response.body = body.toStdString();
    return response;
}

// Reads the whole reply the way the completion handler does.
QStringList readPieces(Inet &inet)
{
    QStringList pieces;
    for (QString piece = inet.GetChunk(1024, 0); !piece.isEmpty(); piece = inet.GetChunk(1024, 0))
        pieces.append(piece);
    return pieces;
}

} // namespace

class tst_Inet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void postsBodyAndHeaders();
    void readsReplyInPieces_data();
    void readsReplyInPieces();
    void truncatedCharacterReadsAsReplacement();
    void failures_data();
    void failures();
    void timesOut();
    void refusesWhileRunning();
    void refusesWhatItCannotStart_data();
    void refusesWhatItCannotStart();
    void stillExecutingUntilFinalHandlerReturns();
    void destroyedInsideFinalHandler();
    void destroyedWhileRunning();
};

void tst_Inet::postsBodyAndHeaders()
{
    FixtureServer server;
    server.serve(u"/page"_qs, reply("ok"));
    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);

    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "SQL=a%26b&", kForm + u"\r\nX-Extra: 1"_qs);
    QVERIFY(inet.StillExecuting());
    QVERIFY(states.isEmpty()); // nothing is emitted from inside Execute
    QTRY_VERIFY(!inet.StillExecuting());

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[0].target, QByteArray("/page"));
    QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(requests[0].header("X-Extra"), QByteArray("1"));
    QCOMPARE(requests[0].body, QByteArray("SQL=a%26b&"));
    QCOMPARE(states.last().first().toInt(), int(Inet::icResponseCompleted));
    QCOMPARE(states.count({QVariant(int(Inet::icResponseCompleted))}), 1);
    QCOMPARE(readPieces(inet), QStringList{u"ok"_qs});
}

void tst_Inet::readsReplyInPieces_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("pieces");

    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("exactly 1024") << QByteArray(1024, 'a') << 1;
    QTest::newRow("1025") << QByteArray(1025, 'a') << 2;
    // é is two bytes: the 512th straddles the first boundary, and 1023 'x' + € puts a
    // three-byte sequence across it.
    QTest::newRow("split two-byte") << (QByteArray("x") + QString(600, QChar(0xE9)).toUtf8()) << 2;
    QTest::newRow("split three-byte") << (QByteArray(1023, 'x') + "\xE2\x82\xAC" + "tail") << 2;
    QTest::newRow("split four-byte")
        << (QByteArray(1022, 'x') + QString(u"\U0001F600"_qs).toUtf8() + "z") << 2;
}

void tst_Inet::readsReplyInPieces()
{
    QFETCH(QByteArray, body);
    QFETCH(int, pieces);

    FixtureServer server;
    server.serve(u"/page"_qs, reply(body));
    Inet inet;
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY(!inet.StillExecuting());

    const QStringList read = readPieces(inet);
    QCOMPARE(read.size(), pieces);
    QCOMPARE(read.join(QString()), QString::fromUtf8(body));
    for (const QString &piece : read)
        QVERIFY(!piece.contains(QChar::ReplacementCharacter));
    QCOMPARE(inet.GetChunk(1024, 0), QString()); // and it stays empty
}

void tst_Inet::truncatedCharacterReadsAsReplacement()
{
    FixtureServer server;
    server.serve(u"/page"_qs, reply("ab\xE2\x82"));
    Inet inet;
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY(!inet.StillExecuting());
    QCOMPARE(readPieces(inet), (QStringList{u"ab"_qs, QString(QChar::ReplacementCharacter)}));
}

void tst_Inet::failures_data()
{
    QTest::addColumn<int>("status"); // 0: nobody listens
    QTest::newRow("500") << 500;
    QTest::newRow("404") << 404;
    QTest::newRow("302 without a location") << 302;
    QTest::newRow("refused") << 0;
}

void tst_Inet::failures()
{
    QFETCH(int, status);
    auto server = std::make_unique<FixtureServer>();
    server->serve(u"/page"_qs, reply("error page", status ? status : 200));
    const QString url = server->url(u"/page"_qs);
    if (status == 0)
        server.reset();

    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);
    inet.Execute(url, u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY(!inet.StillExecuting());

    QCOMPARE(states.last().first().toInt(), int(Inet::icError));
    QCOMPARE(states.count({QVariant(int(Inet::icResponseCompleted))}), 0);
    QCOMPARE(inet.GetChunk(1024, 0), QString()); // a failure has no body to read
}

void tst_Inet::timesOut()
{
    FixtureServer server;
    FixtureServer::Response slow = reply("late");
    slow.delay = std::chrono::milliseconds(3000);
    server.serve(u"/page"_qs, slow);

    Inet inet(nullptr, std::chrono::milliseconds(200));
    QSignalSpy states(&inet, &Inet::StateChanged);
    QElapsedTimer timer;
    timer.start();
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY_WITH_TIMEOUT(!inet.StillExecuting(), 2500);
    QVERIFY(timer.elapsed() < 2500);
    QCOMPARE(states.last().first().toInt(), int(Inet::icError));
}

void tst_Inet::refusesWhileRunning()
{
    FixtureServer server;
    FixtureServer::Response slow = reply("first");
    slow.delay = std::chrono::milliseconds(300);
    server.serve(u"/page"_qs, slow);

    Inet inet;
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QVERIFY_THROWS_EXCEPTION(TransferError,
                             inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=2", kForm));
    QTRY_VERIFY(!inet.StillExecuting());
    QCOMPARE(readPieces(inet), QStringList{u"first"_qs});

    // Free again once the first is over.
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=3", kForm);
    QTRY_VERIFY(!inet.StillExecuting());
    QCOMPARE(server.requestCount(), 2);
    QCOMPARE(server.requests().last().body, QByteArray("x=3"));
}

void tst_Inet::refusesWhatItCannotStart_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("headers");

    QTest::newRow("empty URL") << QString() << u"Post"_qs << kForm;
    QTest::newRow("no scheme") << u"/VendorEmployee.asp"_qs << u"Post"_qs << kForm;
    QTest::newRow("other scheme") << u"ftp://127.0.0.1/x"_qs << u"Post"_qs << kForm;
    QTest::newRow("unknown operation") << u"http://127.0.0.1:1/x"_qs << u"Delete"_qs << kForm;
    QTest::newRow("header without colon")
        << u"http://127.0.0.1:1/x"_qs << u"Post"_qs << u"Content-Type application/json"_qs;
}

void tst_Inet::refusesWhatItCannotStart()
{
    QFETCH(QString, url);
    QFETCH(QString, operation);
    QFETCH(QString, headers);

    Inet inet;
    QSignalSpy states(&inet, &Inet::StateChanged);
    QVERIFY_THROWS_EXCEPTION(TransferError, inet.Execute(url, operation, "x=1", headers));
    QVERIFY(!inet.StillExecuting());
    QTest::qWait(20);
    QVERIFY(states.isEmpty());
}

void tst_Inet::stillExecutingUntilFinalHandlerReturns()
{
    FixtureServer server;
    server.serve(u"/page"_qs, reply("done"));
    Inet inet;
    QList<bool> executingDuring;
    connect(&inet, &Inet::StateChanged, this, [&](int state) {
        if (state == Inet::icResponseCompleted) {
            executingDuring.append(inet.StillExecuting());
            // A handler may run nested events; the component still counts as busy.
            QTest::qWait(20);
            executingDuring.append(inet.StillExecuting());
        }
    });
    inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY(!inet.StillExecuting());
    QCOMPARE(executingDuring, (QList<bool>{true, true}));
}

void tst_Inet::destroyedInsideFinalHandler()
{
    FixtureServer server;
    server.serve(u"/page"_qs, reply("done"));
    auto *inet = new Inet;
    QPointer<Inet> watched(inet);
    connect(inet, &Inet::StateChanged, this, [inet](int state) {
        if (state == Inet::icResponseCompleted)
            delete inet;
    });
    inet->Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
    QTRY_VERIFY(!watched);
    QTest::qWait(50);
}

void tst_Inet::destroyedWhileRunning()
{
    FixtureServer server;
    FixtureServer::Response slow = reply("late");
    slow.delay = std::chrono::milliseconds(300);
    server.serve(u"/page"_qs, slow);

    int received = 0;
    {
        Inet inet;
        connect(&inet, &Inet::StateChanged, this, [&received](int) { ++received; });
        inet.Execute(server.url(u"/page"_qs), u"Post"_qs, "x=1", kForm);
        QTest::qWait(50);
    }
    const int atDestruction = received;
    QTest::qWait(400);
    QCOMPARE(received, atDestruction);
}

QTEST_MAIN(tst_Inet)
#include "tst_inet.moc"
