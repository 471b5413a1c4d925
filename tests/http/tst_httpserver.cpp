#include "http/HttpServer.h"
#include "support/RawHttp.h"
#include "support/TlsKit.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/ssl.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using vendoremp::http::Limits;
using vendoremp::http::Request;
using vendoremp::http::Response;
using vendoremp::http::Server;

namespace {

namespace raw = kvetest::raw;

raw::Clock::time_point after(std::chrono::milliseconds wait)
{
    return raw::Clock::now() + wait;
}

// One answer as a test compares it; status 0 when the connection ended or time ran out first.
struct Answer
{
    int status = 0;
    QByteArray body;
    std::string text;

    QByteArray header(const char *name) const
    {
        return QByteArray::fromStdString(raw::headerOf(text, name));
    }
};

// The raw loopback client, in the terms of these tests: exact bytes out, whole answers in.
class Client : public raw::Connection
{
public:
    /// from: the loopback address to connect from, so that tests of per-client limits can play
    /// several clients.
    explicit Client(quint16 port, const QByteArray &from = {})
        : Connection(port, from.isEmpty() ? nullptr : from.constData())
    {
    }

    void send(const QByteArray &bytes) { Connection::send(bytes.toStdString(), after(10s)); }

    Answer read(int timeoutMs = 5000)
    {
        const std::string text = readAnswer(after(std::chrono::milliseconds(timeoutMs)));
        if (!raw::isWhole(text))
            return {};
        return {raw::statusOf(text), QByteArray::fromStdString(raw::bodyOf(text)), text};
    }

    /// True when the server closes the connection within the time, without sending anything.
    bool closedWithoutBytes(int timeoutMs = 5000)
    {
        return closedByPeer(after(std::chrono::milliseconds(timeoutMs))) &&
               readAll(after(0ms)).empty();
    }

    bool isOpen() { return !closedByPeer(raw::Clock::now()); }
};

QByteArray get(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

QByteArray post(const QByteArray &target, const QByteArray &body)
{
    return "POST " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// Answers with the request written out, so a test sees exactly what the handler got.
Response echo(const Request &r)
{
    Response res;
    res.body = r.method + " " + r.target + " path=" + r.path + " query=" + r.query +
               " x=" + r.header("x-test") + " body=" + r.body;
    return res;
}

// The echo, counting its calls: a request refused must never reach the handler.
vendoremp::http::Handler countingEcho(std::atomic<int> &calls)
{
    return [&calls](const Request &r) {
        ++calls;
        return echo(r);
    };
}

} // namespace

class tst_HttpServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void echoesRequests_data();
    void echoesRequests();
    void keepsConnectionsAlive();
    void closesWhenAsked();
    void receivesLargeBodies_data();
    void receivesLargeBodies();
    void refusesOversizedBodies_data();
    void refusesOversizedBodies();
    void refusesOversizedHeaders();
    void refusesMalformedRequests_data();
    void refusesMalformedRequests();
    void closesSlowRequests();
    void capsConnections();
    void delaysAnswers();
    void dripsBodies();
    void closesWithoutAnswer();
    void handlerExceptionIs500();
    void stopsWhileBusy();
    void picksFreePorts();
    void refusesLooseRequests_data();
    void refusesLooseRequests();
    void capsConnectionsPerClient();
    void closesIdleConnectionsNearTheCap();
    void slowHandlersLeaveTheNetworkFree();
    void capsBodyMemory();
    void servesTls_data();
    void servesTls();
    void tlsSurvivesBadClients();

private:
    std::unique_ptr<Server> start(vendoremp::http::Handler handler, Limits limits = {})
    {
        auto server = std::make_unique<Server>(std::move(handler), limits);
        server->listen("127.0.0.1", 0);
        return server;
    }
};

void tst_HttpServer::echoesRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("get with query")
        << get("/VendorEmployee.asp?VendorID=-5", "X-Test: yes\r\n")
        << QByteArray("GET /VendorEmployee.asp?VendorID=-5 path=/VendorEmployee.asp "
                      "query=VendorID=-5 x=yes body=");
    QTest::newRow("post body") << post("/p", "SQL=a%20b&")
                               << QByteArray("POST /p path=/p query= x= body=SQL=a%20b&");
    QTest::newRow("chunked body")
        << QByteArray("POST /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\n\r\n")
        << QByteArray("POST /c path=/c query= x= body=abcde");
    QTest::newRow("expect continue")
        << QByteArray("POST /e HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
                      "Content-Length: 2\r\n\r\nok")
        << QByteArray("POST /e path=/e query= x= body=ok");
    QTest::newRow("http/1.0") << QByteArray("GET /old HTTP/1.0\r\n\r\n")
                              << QByteArray("GET /old path=/old query= x= body=");
    QTest::newRow("folder before the page")
        << get("/apps/VendorEmployee.asp")
        << QByteArray("GET /apps/VendorEmployee.asp path=/apps/VendorEmployee.asp query= x= body=");
    QTest::newRow("dots within names")
        << get("/a.b/..c/.../d..") << QByteArray("GET /a.b/..c/.../d.. path=/a.b/..c/.../d.. "
                                                 "query= x= body=");
    QTest::newRow("absolute form naming the host")
        << QByteArray("GET http://127.0.0.1:80/p?q=1 HTTP/1.1\r\nHost: 127.0.0.1:80\r\n\r\n")
        << QByteArray("GET http://127.0.0.1:80/p?q=1 path=/p query=q=1 x= body=");
}

void tst_HttpServer::echoesRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    auto server = start(echo);
    Client c(server->port());
    QVERIFY(c.open());
    c.send(request);
    Answer a = c.read();
    if (a.status == 100) // the interim answer of an expect-continue
        a = c.read();
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body, expected);
    QCOMPARE(a.header("Content-Length"), QByteArray::number(expected.size()));
    QCOMPARE(a.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
}

void tst_HttpServer::keepsConnectionsAlive()
{
    std::atomic<int> calls{0};
    auto server = start(countingEcho(calls));
    Client c(server->port());
    QVERIFY(c.open());
    // Two requests in one write: the second must wait in the buffer for its turn.
    c.send(get("/one") + post("/two", "2"));
    QCOMPARE(c.read().body, QByteArray("GET /one path=/one query= x= body="));
    QCOMPARE(c.read().body, QByteArray("POST /two path=/two query= x= body=2"));
    c.send(get("/three"));
    const Answer third = c.read();
    QCOMPARE(third.status, 200);
    QVERIFY(third.header("Connection").compare("close", Qt::CaseInsensitive) != 0);
    QCOMPARE(calls.load(), 3);
    QVERIFY(c.isOpen());
}

void tst_HttpServer::closesWhenAsked()
{
    auto server = start([](const Request &r) {
        Response res = echo(r);
        if (r.path == "/bye")
            res.headers.emplace_back("Connection", "close");
        return res;
    });
    {
        Client c(server->port());
        c.send(get("/", "Connection: close\r\n"));
        QCOMPARE(c.read().status, 200);
        QVERIFY(c.closedWithoutBytes());
    }
    {
        Client c(server->port());
        c.send(get("/bye"));
        const Answer a = c.read();
        QCOMPARE(a.status, 200);
        QCOMPARE(a.header("Connection").toLower(), QByteArray("close"));
        QVERIFY(c.closedWithoutBytes());
    }
}

namespace {

// Bytes that do not repeat with any short period, so a piece lost, doubled or moved shows.
QByteArray patterned(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('!' + (i * 7 + i / 251) % 90);
    return bytes;
}

QByteArray chunked(const QByteArray &body, qsizetype chunkSize)
{
    QByteArray out = "POST /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray chunk = body.mid(at, chunkSize);
        out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace

void tst_HttpServer::receivesLargeBodies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("pieces"); // the request is sent in this many writes, apart in time

    const QByteArray oneRead = patterned(64 * 1024);
    const QByteArray justOver = patterned(64 * 1024 + 1);
    const QByteArray large = patterned(3 * 1024 * 1024 + 17);
    QTest::newRow("one read") << post("/p", oneRead) << oneRead << 1;
    QTest::newRow("one byte over one read") << post("/p", justOver) << justOver << 1;
    QTest::newRow("megabytes at once") << post("/p", large) << large << 1;
    QTest::newRow("megabytes in pieces") << post("/p", large) << large << 37;
    QTest::newRow("chunked, chunks larger than a read") << chunked(large, 100000) << large << 5;
    QTest::newRow("chunked, small chunks") << chunked(justOver, 1000) << justOver << 9;
    QTest::newRow("expect continue")
        << QByteArray("POST /e HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
                      "Content-Length: " +
                      QByteArray::number(large.size()) + "\r\n\r\n" + large)
        << large << 3;
}

void tst_HttpServer::receivesLargeBodies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    QFETCH(int, pieces);
    auto server = start([](const Request &r) {
        Response res;
        res.body = r.path == "/next" ? "next" : r.body;
        return res;
    });
    Client c(server->port());
    QVERIFY(c.open());
    // A request right behind the body, in the same write: it must be neither lost nor taken
    // for body.
    const QByteArray bytes = request + get("/next");
    const qsizetype piece = bytes.size() / pieces + 1;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        c.send(bytes.mid(at, piece));
        if (pieces > 1)
            QTest::qWait(5);
    }
    Answer a = c.read(20000);
    if (a.status == 100)
        a = c.read(20000);
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body.size(), body.size());
    QVERIFY(a.body == body);
    const Answer next = c.read();
    QCOMPARE(next.status, 200);
    QCOMPARE(next.body, QByteArray("next"));
}

void tst_HttpServer::refusesOversizedBodies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    const QByteArray limit(64, 'x');
    QTest::newRow("at the limit") << post("/", limit) << 200;
    QTest::newRow("one byte over") << post("/", limit + "x") << 413;
    QTest::newRow("declared huge, not sent")
        << QByteArray("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 99999999999\r\n\r\n") << 413;
    QTest::newRow("chunked over")
        << QByteArray("POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "20\r\n" +
                      QByteArray(32, 'a') + "\r\n21\r\n" + QByteArray(33, 'b') + "\r\n0\r\n\r\n")
        << 413;
    QTest::newRow("chunked at the limit")
        << QByteArray("POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "40\r\n" +
                      QByteArray(64, 'a') + "\r\n0\r\n\r\n")
        << 200;
}

void tst_HttpServer::refusesOversizedBodies()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    std::atomic<int> calls{0};
    Limits limits;
    limits.maxBodyBytes = 64;
    auto server = start(countingEcho(calls), limits);
    Client c(server->port());
    c.send(request);
    const Answer a = c.read();
    QCOMPARE(a.status, status);
    QCOMPARE(calls.load(), status == 200 ? 1 : 0);
    if (status != 200)
        QVERIFY(c.closedWithoutBytes());
}

void tst_HttpServer::refusesOversizedHeaders()
{
    std::atomic<int> calls{0};
    Limits limits;
    limits.maxHeaderBytes = 1024;
    auto server = start(countingEcho(calls), limits);
    {
        Client c(server->port());
        c.send(get("/", "X-Test: " + QByteArray(900, 'a') + "\r\n"));
        QCOMPARE(c.read().status, 200);
    }
    {
        Client c(server->port());
        c.send(get("/", "X-Test: " + QByteArray(2000, 'a') + "\r\n"));
        QCOMPARE(c.read().status, 431);
        QVERIFY(c.closedWithoutBytes());
    }
    {
        // Many small fields count together.
        QByteArray many;
        for (int i = 0; i < 200; ++i)
            many += "X-" + QByteArray::number(i) + ": v\r\n";
        Client c(server->port());
        c.send(get("/", many));
        QCOMPARE(c.read().status, 431);
    }
    QCOMPARE(calls.load(), 1);
}

void tst_HttpServer::refusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("garbage") << QByteArray("HELLO THERE\r\n\r\n");
    QTest::newRow("bad version") << QByteArray("GET / HTTP/9\r\n\r\n");
    QTest::newRow("bad content-length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n");
    QTest::newRow("two content-lengths")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab");
    QTest::newRow("bad chunk") << QByteArray(
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n");
    QTest::newRow("space in target") << QByteArray("GET /a b HTTP/1.1\r\n\r\n");
}

void tst_HttpServer::refusesMalformedRequests()
{
    QFETCH(QByteArray, request);
    std::atomic<int> calls{0};
    auto server = start(countingEcho(calls));
    Client c(server->port());
    c.send(request);
    QCOMPARE(c.read().status, 400);
    QVERIFY(c.closedWithoutBytes());
    QCOMPARE(calls.load(), 0);
}

void tst_HttpServer::closesSlowRequests()
{
    std::atomic<int> calls{0};
    Limits limits;
    limits.readTimeout = 300ms;
    auto server = start(countingEcho(calls), limits);

    // Bytes keep coming, but the request is never complete: the deadline covers the whole read.
    Client c(server->port());
    QElapsedTimer clock;
    clock.start();
    c.send("GET / HTTP/1.1\r\n");
    for (int i = 0; i < 8 && c.isOpen(); ++i) {
        QTest::qWait(100);
        c.send("X-" + QByteArray::number(i) + ": v\r\n");
    }
    QVERIFY(c.closedWithoutBytes(3000));
    QVERIFY(clock.elapsed() >= 250);
    QCOMPARE(calls.load(), 0);

    // An idle kept-alive connection goes the same way.
    Client idle(server->port());
    idle.send(get("/"));
    QCOMPARE(idle.read().status, 200);
    QVERIFY(idle.closedWithoutBytes(3000));
}

void tst_HttpServer::capsConnections()
{
    Limits limits;
    limits.maxConnections = 2;
    // Two of two is near the cap; the kept-alive second client must not be closed for it here.
    limits.idleTimeoutUnderLoad = limits.readTimeout;
    auto server = start(echo, limits);

    auto first = std::make_unique<Client>(server->port());
    Client second(server->port());
    // An answer on each proves the server holds both.
    first->send(get("/1"));
    second.send(get("/2"));
    QCOMPARE(first->read().status, 200);
    QCOMPARE(second.read().status, 200);

    Client third(server->port());
    third.send(get("/3"));
    QVERIFY(third.closedWithoutBytes());

    first.reset();
    // The server notices the close asynchronously; a new client is admitted soon after.
    bool admitted = false;
    for (QElapsedTimer clock; !admitted && (!clock.isValid() || clock.elapsed() < 5000);) {
        if (!clock.isValid())
            clock.start();
        admitted = raw::statusOf(raw::get(server->port(), "/4", 1s)) == 200;
        if (!admitted)
            QTest::qWait(50);
    }
    QVERIFY(admitted);
    second.send(get("/5"));
    QCOMPARE(second.read().status, 200);
}

void tst_HttpServer::delaysAnswers()
{
    auto server = start([](const Request &r) {
        Response res = echo(r);
        if (r.path == "/slow")
            res.delay = 800ms;
        return res;
    });
    Client slow(server->port());
    QElapsedTimer clock;
    clock.start();
    slow.send(get("/slow"));

    // A delay holds no server thread: other clients are answered meanwhile, with both threads
    // of the pool free even with two delays pending.
    Client slow2(server->port());
    slow2.send(get("/slow"));
    Client fast(server->port());
    fast.send(get("/fast"));
    QCOMPARE(fast.read().status, 200);
    QVERIFY(clock.elapsed() < 800);

    const Answer a = slow.read();
    QCOMPARE(a.status, 200);
    QVERIFY(clock.elapsed() >= 780);
    QCOMPARE(slow2.read().status, 200);
}

void tst_HttpServer::dripsBodies()
{
    auto server = start([](const Request &) {
        Response res;
        res.body = "abcde";
        res.dripInterval = 60ms;
        return res;
    });
    Client c(server->port());
    QElapsedTimer clock;
    clock.start();
    c.send(get("/"));
    const Answer a = c.read();
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body, QByteArray("abcde"));
    QCOMPARE(a.header("Content-Length"), QByteArray("5"));
    QVERIFY(clock.elapsed() >= 280);
    // Still kept alive after a drip.
    c.send(get("/"));
    QCOMPARE(c.read().body, QByteArray("abcde"));
}

void tst_HttpServer::closesWithoutAnswer()
{
    std::atomic<int> calls{0};
    auto server = start([&](const Request &) {
        ++calls;
        Response res;
        res.closeWithoutAnswer = true;
        res.delay = 100ms;
        return res;
    });
    Client c(server->port());
    c.send(get("/"));
    QVERIFY(c.closedWithoutBytes());
    QCOMPARE(calls.load(), 1);
}

void tst_HttpServer::handlerExceptionIs500()
{
    auto server = start([](const Request &) -> Response { throw std::runtime_error("boom"); });
    Client c(server->port());
    c.send(get("/"));
    QCOMPARE(c.read().status, 500);
    // The connection and the server survive it.
    c.send(get("/"));
    QCOMPARE(c.read().status, 500);
}

void tst_HttpServer::stopsWhileBusy()
{
    auto server = start([](const Request &r) {
        Response res;
        res.body = std::string(100, 'x');
        if (r.path == "/delay")
            res.delay = 30s;
        else
            res.dripInterval = 1s;
        return res;
    });
    Client delayed(server->port());
    delayed.send(get("/delay"));
    Client dripping(server->port());
    dripping.send(get("/drip"));
    Client idle(server->port());
    QTest::qWait(200); // both requests reach their wait

    QElapsedTimer clock;
    clock.start();
    server->stop();
    QVERIFY2(clock.elapsed() < 2000, "stop() waited for a delay or a drip");
    QCOMPARE(delayed.read(2000).status, 0);
    QVERIFY(!delayed.isOpen());
    QVERIFY(!dripping.isOpen() || dripping.read(2000).status == 0);
    QVERIFY(idle.closedWithoutBytes(2000));

    server->stop(); // idempotent
    Client late(server->port());
    QVERIFY(!late.open() || late.closedWithoutBytes(2000));
}

void tst_HttpServer::picksFreePorts()
{
    Server a(echo);
    Server b(echo);
    const auto pa = a.listen("127.0.0.1", 0);
    const auto pb = b.listen("127.0.0.1", 0);
    QVERIFY(pa != 0);
    QVERIFY(pb != 0);
    QVERIFY(pa != pb);
    QCOMPARE(a.port(), pa);

    Server c(echo);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, c.listen("127.0.0.1", pa));
    Server d(echo);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, d.listen("not an address at all", 0));
}

void tst_HttpServer::refusesLooseRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    const auto post = [](const QByteArray &fields, const QByteArray &body = {}) {
        return "POST /a HTTP/1.1\r\nHost: h\r\n" + fields + "\r\n\r\n" + body;
    };
    QTest::newRow("coding gzip") << post("Transfer-Encoding: gzip");
    QTest::newRow("coding identity") << post("Transfer-Encoding: identity");
    QTest::newRow("coding xchunked") << post("Transfer-Encoding: xchunked");
    QTest::newRow("chunked, then identity") << post("Transfer-Encoding: chunked, identity");
    QTest::newRow("chunked twice")
        << post("Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked", "0\r\n\r\n");
    QTest::newRow("coding and length")
        << post("Transfer-Encoding: chunked\r\nContent-Length: 5", "0\r\n\r\n");
    QTest::newRow("length and coding")
        << post("Content-Length: 5\r\nTransfer-Encoding: chunked", "0\r\n\r\n");
    QTest::newRow("coding in http/1.0")
        << QByteArray("POST /a HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
    QTest::newRow("no host") << QByteArray("GET /a HTTP/1.1\r\n\r\n");
    QTest::newRow("two hosts") << QByteArray("GET /a HTTP/1.1\r\nHost: h\r\nHost: h\r\n\r\n");
    QTest::newRow("absolute form, another host")
        << QByteArray("GET http://127.0.0.2/VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QTest::newRow("asterisk") << QByteArray("OPTIONS * HTTP/1.1\r\nHost: h\r\n\r\n");
    for (const char *target :
         {"/../../etc/VendorEmployee.asp", "/a/./VendorEmployee.asp", "/a/%2e%2e/VendorEmployee.asp",
          "/a/.%2E/VendorEmployee.asp", "/a/.?VendorID=1", "http://h/a/../VendorEmployee.asp"})
        QTest::addRow("dot segments %s", target)
            << QByteArray("GET ") + target + " HTTP/1.1\r\nHost: h\r\n\r\n";
}

void tst_HttpServer::refusesLooseRequests()
{
    QFETCH(QByteArray, request);
    std::atomic<int> calls{0};
    auto server = start(countingEcho(calls));
    Client c(server->port());
    // A request right behind it in the same write, as a smuggler would place it: never read.
    c.send(request + post("/smuggled", "SQL=x"));
    QCOMPARE(c.read().status, 400);
    QVERIFY(c.closedWithoutBytes());
    QCOMPARE(calls.load(), 0);
}

void tst_HttpServer::capsConnectionsPerClient()
{
    Limits limits;
    limits.maxConnectionsPerClient = 2;
    limits.unlimitedClients = {"127.0.0.4"};
    auto server = start(
        [](const Request &r) {
            Response res;
            res.body = r.remoteAddress;
            return res;
        },
        limits);
    std::vector<std::unique_ptr<Client>> held;
    for (const char *from : {"127.0.0.2", "127.0.0.2", "127.0.0.4", "127.0.0.4", "127.0.0.4"}) {
        held.push_back(std::make_unique<Client>(server->port(), from));
        held.back()->send(get("/"));
        QCOMPARE(held.back()->read().body, QByteArray(from));
    }
    Client third(server->port(), "127.0.0.2");
    third.send(get("/"));
    QVERIFY(third.closedWithoutBytes());
    Client other(server->port(), "127.0.0.3");
    other.send(get("/"));
    QCOMPARE(other.read().body, QByteArray("127.0.0.3"));
}

void tst_HttpServer::closesIdleConnectionsNearTheCap()
{
    Limits limits;
    limits.maxConnections = 8;
    limits.readTimeout = 20s;
    limits.idleTimeoutUnderLoad = 200ms;
    auto server = start(echo, limits);
    // Idle after an answer, while the server is far from its cap: kept.
    Client idle(server->port());
    idle.send(get("/"));
    QCOMPARE(idle.read().status, 200);
    QTest::qWait(500);
    QVERIFY(idle.isOpen());
    // Six silent newcomers make seven of eight: the idle one goes long before its read deadline,
    // the newcomers, which have sent nothing yet, keep theirs.
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < 6; ++i)
        crowd.push_back(std::make_unique<Client>(server->port(), "127.0.0." + QByteArray::number(2 + i)));
    QVERIFY(idle.closedWithoutBytes(5000));
    crowd.front()->send(get("/"));
    QCOMPARE(crowd.front()->read().status, 200);
}

void tst_HttpServer::slowHandlersLeaveTheNetworkFree()
{
    Limits limits;
    limits.ioThreads = 1;
    limits.threads = 4;
    std::atomic<int> slowDone{0};
    auto server = start(
        [&](const Request &r) {
            if (r.path == "/slow") {
                std::this_thread::sleep_for(4s);
                ++slowDone;
            }
            return echo(r);
        },
        limits);
    std::vector<std::unique_ptr<Client>> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<Client>(server->port()));
        slow.back()->send(get("/slow"));
    }
    QTest::qWait(200); // all three reach their handler
    Client fast(server->port());
    fast.send(get("/fast"));
    QCOMPARE(fast.read(10000).status, 200);
    // Answered while every slow handler still sleeps on the pool.
    QCOMPARE(slowDone.load(), 0);
    for (auto &c : slow)
        QCOMPARE(c->read(20000).status, 200);
}

void tst_HttpServer::capsBodyMemory()
{
    Limits limits;
    limits.maxBodyBytes = 80;
    limits.maxBodyBytesInFlight = 100;
    std::atomic<int> calls{0};
    auto server = start(countingEcho(calls), limits);
    // 80 bytes announced, 10 sent: 80 held.
    Client holder(server->port());
    holder.send("POST /h HTTP/1.1\r\nHost: h\r\nContent-Length: 80\r\n\r\n" + QByteArray(10, 'h'));
    QTest::qWait(200);
    {
        Client c(server->port());
        c.send(post("/over", QByteArray(30, 'o')));
        const Answer a = c.read();
        QCOMPARE(a.status, 503);
        QVERIFY(!a.header("Retry-After").isEmpty());
        QVERIFY(c.closedWithoutBytes());
    }
    {
        Client c(server->port());
        c.send(chunked(QByteArray(30, 'c'), 10));
        QCOMPARE(c.read().status, 503);
    }
    Client within(server->port());
    within.send(post("/in", QByteArray(20, 'i')));
    QCOMPARE(within.read().status, 200);
    // Given back once answered: the held body completes, and the room is free again.
    holder.send(QByteArray(70, 'h'));
    QCOMPARE(holder.read().status, 200);
    within.send(post("/in", QByteArray(80, 'i')));
    QCOMPARE(within.read().status, 200);
    QCOMPARE(calls.load(), 3);
}

void tst_HttpServer::servesTls_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("any") << 0 << true;
    QTest::newRow("TLS 1.3") << int(TLS1_3_VERSION) << true;
    QTest::newRow("TLS 1.2") << int(TLS1_2_VERSION) << true;
    QTest::newRow("TLS 1.1") << int(TLS1_1_VERSION) << false;
    QTest::newRow("TLS 1.0") << int(TLS1_VERSION) << false;
}

void tst_HttpServer::servesTls()
{
    QFETCH(int, version);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const auto certs = kvetest::makeTestCertificates(dir.path());
    QVERIFY2(certs.error.isEmpty(), qPrintable(certs.error));
    // An answer larger than one write's share of plaintext arrives whole and in order.
    std::string large(300'000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = char('a' + i * 7 % 26);
    Server server([&large](const Request &r) {
        Response res;
        res.body = r.path == "/large"
                       ? large
                       : std::string(r.tls ? "tls " : "plain ") + r.remoteAddress + " " + r.body;
        return res;
    });
    server.useTls(certs.certificateFile.toStdString(), certs.keyFile.toStdString());
    const auto port = server.listen("127.0.0.1", 0);
    const auto x = kvetest::tlsExchange(port, certs.caFile,
                                        post("/", "hello").toStdString() +
                                            get("/large").toStdString() +
                                            get("/", "Connection: close\r\n").toStdString(),
                                        version);
    QCOMPARE(x.handshake, accepted);
    // A refused client is told why rather than finding the connection closed.
    if (!accepted)
        QVERIFY2(x.error.find("protocol version") != std::string::npos, x.error.c_str());
    if (accepted) {
        QVERIFY2(x.answer.find("tls 127.0.0.1 hello") != std::string::npos, x.answer.c_str());
        QVERIFY(x.answer.find("\r\n\r\n" + large + "HTTP/1.1 200") != std::string::npos);
        QVERIFY(x.answer.ends_with("tls 127.0.0.1 "));
    }
}

void tst_HttpServer::tlsSurvivesBadClients()
{
    QTemporaryDir dir;
    const auto certs = kvetest::makeTestCertificates(dir.path());
    QVERIFY2(certs.error.isEmpty(), qPrintable(certs.error));
    Limits limits;
    limits.readTimeout = 300ms;
    std::atomic<int> calls{0};
    Server server(countingEcho(calls), limits);
    server.useTls(certs.certificateFile.toStdString(), certs.keyFile.toStdString());
    const auto port = server.listen("127.0.0.1", 0);

    Client silent(port); // a handshake that never begins
    Client stalled(port); // one that stops after its first bytes
    stalled.send(QByteArray::fromHex("160301"));
    Client plain(port);
    plain.send(get("/"));
    QVERIFY(silent.closedWithoutBytes(3000));
    QVERIFY(stalled.closedWithoutBytes(3000));
    QVERIFY(plain.read(3000).status != 200);
    QVERIFY(!plain.isOpen());
    QCOMPARE(calls.load(), 0);
    const auto x = kvetest::tlsExchange(port, certs.caFile, get("/after", "Connection: close\r\n").toStdString());
    QVERIFY2(x.handshake, x.error.c_str());
    QVERIFY(x.answer.find("GET /after") != std::string::npos);
}

QTEST_GUILESS_MAIN(tst_HttpServer)
#include "tst_httpserver.moc"
