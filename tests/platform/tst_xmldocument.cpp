#include "platform/XmlDocument.h"
#include "support/FixtureServer.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using KavriVendorEmp::platform::XmlDocument;
using KavriVendorEmp::platform::XmlError;
using KavriVendorEmp::platform::XmlNode;
using kvetest::FixtureServer;

namespace {

// Answers one connection with fixed bytes and then holds it open: an answer whose end never
// comes, which the HTTP layer cannot produce since it always states the length.
class RawServer
{
public:
    explicit RawServer(QByteArray answer) : m_answer(std::move(answer))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
            ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RawServer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_stopped.notify_all();
        ::shutdown(m_listen, SHUT_RDWR); // wakes accept()
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        QByteArray request;
        char buf[4096];
        while (!request.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            request.append(buf, n);
        }
        for (qsizetype sent = 0; sent < m_answer.size();) {
            const ssize_t n = ::send(fd, m_answer.constData() + sent,
                                     size_t(m_answer.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        std::unique_lock lock(m_mutex);
        m_stopped.wait_for(lock, 20s, [this] { return m_stop; });
        ::close(fd);
    }

    QByteArray m_answer;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
};

QList<XmlNode> childList(const XmlNode &node)
{
    QList<XmlNode> out;
    for (const XmlNode child : node.childNodes())
        out.append(child);
    return out;
}

QByteArray sized(qsizetype bytes)
{
    return "<r>" + QByteArray(bytes - 7, 'x') + "</r>";
}

XmlDocument::Limits shortTimeout(std::chrono::milliseconds timeout)
{
    XmlDocument::Limits limits;
    limits.transferTimeout = timeout;
    return limits;
}

const QByteArray billionLaughs = R"(<?xml version="1.0"?>
<!DOCTYPE lolz [
 <!ENTITY lol "lol">
 <!ENTITY lol1 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">
 <!ENTITY lol2 "&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;">
 <!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">
 <!ENTITY lol4 "&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;">
 <!ENTITY lol5 "&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;">
 <!ENTITY lol6 "&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;">
 <!ENTITY lol7 "&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;">
 <!ENTITY lol8 "&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;">
 <!ENTITY lol9 "&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;">
]>
<lolz><a>&lol9;</a></lolz>)";

} // namespace

class tst_XmlDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void countsNodes_data();
    void countsNodes();
    void readsText_data();
    void readsText();
    void readsTextOfLeafNodes();
    void itemWalksAnyOrder();
    void releasesReadNodes();
    void missingNodeThrows();
    void refusesMalformed_data();
    void refusesMalformed();

    void loadsFromServer();
    void failedFetchLeavesNoRoot_data();
    void failedFetchLeavesNoRoot();
    void followsSameOriginRedirect();
    void refusesRedirectToAnotherPort();
    void givesUpAfterTimeout_data();
    void givesUpAfterTimeout();
    void runsWorkWhileFetching();
    void capsSize_data();
    void capsSize();
    void stopsCountingPastCapWithoutLength();
    void neverExpandsNorFetchesEntities_data();
    void neverExpandsNorFetchesEntities();
    void runsNoEventOfCaller();
};

void tst_XmlDocument::countsNodes_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("count");

    QTest::newRow("comment and pi count") << QByteArray("<r><!--c--><?pi x?><a/>text</r>") << 4;
    QTest::newRow("whitespace-only text dropped")
        << QByteArray("<r>\n  <a/>\r\n\t<b>\n</b>  </r>") << 2;
    QTest::newRow("text around blanks kept") << QByteArray("<r> x <a/> </r>") << 2;
    QTest::newRow("cdata counts") << QByteArray("<r><![CDATA[x]]><a/></r>") << 2;
    QTest::newRow("attributes are no nodes") << QByteArray("<r a='1' b='2'><c/></r>") << 1;
    QTest::newRow("nothing") << QByteArray("<r/>") << 0;
    QTest::newRow("outside root ignored")
        << QByteArray("<?xml version='1.0'?><!--a--><?b?><r><c/></r><!--d-->") << 1;
}

void tst_XmlDocument::countsNodes()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, count);
    XmlDocument doc;
    QVERIFY(doc.loadXml(xml));
    const XmlNode root = doc.documentElement();
    QVERIFY(!root.isNull());
    QCOMPARE(childList(root).size(), count);
    const auto list = root.childNodes();
    for (int i = 0; i < count; ++i)
        QVERIFY(!list.item(i).isNull());
    QVERIFY(list.item(count).isNull());
}

void tst_XmlDocument::readsText_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("text");

    QTest::newRow("nested, comments and pis skipped")
        << QByteArray("<r><a>1<b>2</b></a><!--no--><?pi no?>3<c><d><e>4</e></d></c></r>")
        << QStringLiteral("1234");
    QTest::newRow("blanks kept as in the document")
        << QByteArray("<r>  12 </r>") << QStringLiteral("  12 ");
    QTest::newRow("blank-only text between elements dropped")
        << QByteArray("<r>\n <a>1</a>\n <a>2</a>\n</r>") << QStringLiteral("12");
    QTest::newRow("predefined and numeric entities")
        << QByteArray("<r>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#13;</r>")
        << QStringLiteral("&<>\"'AB\r");
    QTest::newRow("cdata") << QByteArray("<r><![CDATA[<x>&amp;]]></r>")
                           << QStringLiteral("<x>&amp;");
    QTest::newRow("utf-8") << QByteArray("<r>M\xC3\xBCller \xE2\x82\xAC</r>")
                           << QStringLiteral(u"Müller €");
    QTest::newRow("latin-1 declared")
        << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><r>M\xFCller</r>")
        << QStringLiteral(u"Müller");
    QTest::newRow("empty") << QByteArray("<r></r>") << QString();
}

void tst_XmlDocument::readsText()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, text);
    const QByteArray given(xml.constData(), xml.size()); // unshared
    XmlDocument doc;
    QVERIFY(doc.loadXml(xml));
    QCOMPARE(doc.documentElement().text(), text);
    QCOMPARE(xml, given); // parsed in place, but in bytes of its own
}

void tst_XmlDocument::readsTextOfLeafNodes()
{
    XmlDocument doc;
    QVERIFY(doc.loadXml("<r><!-- note --><?target data?>plain<a>in</a></r>"));
    const auto list = doc.documentElement().childNodes();
    QCOMPARE(list.item(0).text(), QStringLiteral(" note "));
    QCOMPARE(list.item(1).text(), QStringLiteral("data"));
    QCOMPARE(list.item(2).text(), QStringLiteral("plain"));
    QCOMPARE(list.item(3).childNodes().item(0).text(), QStringLiteral("in"));
    // A text node has no children, which is an empty list, not a failure.
    QVERIFY(list.item(2).childNodes().item(0).isNull());
}

void tst_XmlDocument::itemWalksAnyOrder()
{
    QByteArray xml = "<r>";
    for (int i = 0; i < 100; ++i)
        xml += "<e>" + QByteArray::number(i) + "</e>";
    XmlDocument doc;
    QVERIFY(doc.loadXml(xml + "</r>"));
    const auto list = doc.documentElement().childNodes();
    // The list remembers its last position; every jump must still land right.
    for (int i : {0, 1, 2, 50, 49, 48, 99, 10, 10, 0, 98, 97, 5})
        QCOMPARE(list.item(i).text(), QString::number(i));
    QVERIFY(list.item(100).isNull());
    QCOMPARE(list.item(99).text(), QStringLiteral("99")); // after a miss
    QVERIFY(list.item(-1).isNull());
    QVERIFY(list.item(1000).isNull());
    QCOMPARE(list.item(3).text(), QStringLiteral("3"));
}

void tst_XmlDocument::releasesReadNodes()
{
    XmlDocument doc;
    QVERIFY(doc.loadXml("<r><a>1<b>2</b></a><!--c--><a>3</a></r>"));
    doc.release(doc.documentElement().childNodes().item(0));
    // The siblings stay, in order; a walk begun before a release goes on past it.
    QCOMPARE(childList(doc.documentElement()).size(), 2);
    const auto list = doc.documentElement().childNodes();
    auto at = list.begin();
    const XmlNode comment = *at;
    ++at;
    doc.release(comment);
    QCOMPARE((*at).text(), QStringLiteral("3"));
    QCOMPARE(doc.documentElement().text(), QStringLiteral("3"));
    QVERIFY_THROWS_EXCEPTION(XmlError,
                             doc.release(doc.documentElement().childNodes().item(5)));
}

void tst_XmlDocument::missingNodeThrows()
{
    XmlDocument doc;
    QVERIFY(doc.documentElement().isNull()); // nothing loaded
    QVERIFY_THROWS_EXCEPTION(XmlError, doc.documentElement().childNodes());
    QVERIFY_THROWS_EXCEPTION(XmlError, doc.documentElement().text());

    QVERIFY(doc.loadXml("<r><a/></r>"));
    const XmlNode missing = doc.documentElement().childNodes().item(1);
    QVERIFY(missing.isNull());
    QVERIFY_THROWS_EXCEPTION(XmlError, missing.text());
    QVERIFY_THROWS_EXCEPTION(XmlError, missing.childNodes().item(0));
    // An empty element has no child: its field text cannot be read.
    const XmlNode empty = doc.documentElement().childNodes().item(0).childNodes().item(0);
    QVERIFY_THROWS_EXCEPTION(XmlError, empty.text());
}

void tst_XmlDocument::refusesMalformed_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unclosed") << QByteArray("<r><a></r>");
    QTest::newRow("mismatch") << QByteArray("<r></s>");
    QTest::newRow("plain text") << QByteArray("Internal Server Error");
    QTest::newRow("html error page")
        << QByteArray("<!DOCTYPE html><html><body>Error<br></body></html>");
    QTest::newRow("two roots") << QByteArray("<a/><b/>");
    QTest::newRow("text after root") << QByteArray("<r/>trailing");
    QTest::newRow("comment only") << QByteArray("<!-- nothing -->");
    QTest::newRow("bad attribute") << QByteArray("<r a=1/>");
    QTest::newRow("own entity") << QByteArray("<!DOCTYPE r [<!ENTITY a 'x'>]><r>&a;</r>");
}

void tst_XmlDocument::refusesMalformed()
{
    QFETCH(QByteArray, xml);
    XmlDocument doc;
    QVERIFY(doc.loadXml("<ok/>"));
    QVERIFY(!doc.loadXml(xml));
    QVERIFY(doc.documentElement().isNull()); // nothing left from the earlier document
}

void tst_XmlDocument::loadsFromServer()
{
    FixtureServer server;
    const QString odd = QStringLiteral(u"A&B <c> \"q\" 'a'\r\nÄ\U0001F600");
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(1, 2, {{QStringLiteral("7"), odd}},
                                              {{QStringLiteral(" 8 "), QStringLiteral("Bo")}}));
    XmlDocument doc;
    doc.setAsync(false);
    QVERIFY(doc.load(server.url(QStringLiteral("/VendorEmployee.asp?VendorID=-5"))));

    const XmlNode root = doc.documentElement();
    const auto sections = root.childNodes();
    const auto counts = sections.item(0).childNodes().item(0).childNodes();
    QCOMPARE(counts.item(0).text(), QStringLiteral("1"));
    QCOMPARE(counts.item(1).text(), QStringLiteral("2"));
    const XmlNode record = sections.item(1).childNodes().item(0);
    QCOMPARE(record.childNodes().item(0).childNodes().item(0).text(), QStringLiteral("7"));
    QCOMPARE(record.childNodes().item(1).childNodes().item(0).text(), odd);
    QCOMPARE(sections.item(2).childNodes().item(0).childNodes().item(0).text(),
             QStringLiteral(" 8 "));

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("GET"));
    QCOMPARE(requests[0].target, QByteArray("/VendorEmployee.asp?VendorID=-5"));
    QVERIFY(requests[0].body.isEmpty());
}

void tst_XmlDocument::failedFetchLeavesNoRoot_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("close");
    QTest::addColumn<QString>("target");

    const QByteArray xml = "<r><a>1</a></r>";
    const QString path = QStringLiteral("/doc");
    QTest::newRow("404 with xml body") << 404 << xml << false << path;
    QTest::newRow("500 with xml body") << 500 << xml << false << path;
    QTest::newRow("304") << 304 << QByteArray() << false << path;
    QTest::newRow("200, not xml") << 200 << QByteArray("<html>oops") << false << path;
    QTest::newRow("closed without answer") << 200 << xml << true << path;
    QTest::newRow("unknown path") << 200 << xml << false << QStringLiteral("/other");
}

void tst_XmlDocument::failedFetchLeavesNoRoot()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, close);
    QFETCH(QString, target);
    FixtureServer server;
    FixtureServer::Response r;
    r.status = status;
    r.contentType = "text/xml";
    r.body = body.toStdString();
    r.closeWithoutAnswer = close;
    server.serve(QStringLiteral("/doc"), r);

    XmlDocument doc;
    QVERIFY(doc.loadXml("<ok/>"));
    QVERIFY(!doc.load(server.url(target)));
    QVERIFY(doc.documentElement().isNull());
    QVERIFY(server.requestCount() >= 1);
}

void tst_XmlDocument::followsSameOriginRedirect()
{
    FixtureServer server;
    FixtureServer::Response moved;
    moved.status = 302;
    moved.headers.emplace_back("Location", "/new");
    server.serve(QStringLiteral("/old"), moved);
    server.serveXml(QStringLiteral("/new"), "<r>moved</r>");
    XmlDocument doc;
    QVERIFY(doc.load(server.url(QStringLiteral("/old"))));
    QCOMPARE(doc.documentElement().text(), QStringLiteral("moved"));
}

void tst_XmlDocument::refusesRedirectToAnotherPort()
{
    FixtureServer elsewhere;
    elsewhere.serveXml(QStringLiteral("/doc"), "<r>elsewhere</r>");
    FixtureServer server;
    FixtureServer::Response moved;
    moved.status = 302;
    moved.headers.emplace_back("Location", elsewhere.url(QStringLiteral("/doc")).toStdString());
    server.serve(QStringLiteral("/doc"), moved);

    XmlDocument doc;
    QVERIFY(!doc.load(server.url(QStringLiteral("/doc"))));
    QVERIFY(doc.documentElement().isNull());
    QCOMPARE(elsewhere.requestCount(), 0);

    // Neither to another scheme or host, nor off the network altogether.
    QVERIFY(!doc.load(QStringLiteral("file:///etc/hostname")));
    QVERIFY(!doc.load(QStringLiteral("/VendorEmployee.asp?VendorID=1")));
}

void tst_XmlDocument::givesUpAfterTimeout_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("dripMs");
    QTest::newRow("never answers") << 60000 << 0;
    // Bytes keep coming, each well within the timeout, but the whole takes far longer.
    QTest::newRow("drips") << 0 << 100;
}

void tst_XmlDocument::givesUpAfterTimeout()
{
    QFETCH(int, delayMs);
    QFETCH(int, dripMs);
    FixtureServer server;
    FixtureServer::Response r;
    r.contentType = "text/xml";
    r.body = "<r>" + std::string(100, 'x') + "</r>";
    r.delay = std::chrono::milliseconds(delayMs);
    r.dripInterval = std::chrono::milliseconds(dripMs);
    server.serve(QStringLiteral("/doc"), r);

    XmlDocument doc(shortTimeout(400ms));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!doc.load(server.url(QStringLiteral("/doc"))));
    QVERIFY(doc.documentElement().isNull());
    QVERIFY(clock.elapsed() >= 350);
    QVERIFY2(clock.elapsed() < 5000, "the timeout did not end the transfer");
}

// The caller's work runs once per load, also when no request can be made; when it fails, the
// load ends with its failure at once instead of waiting for the answer.
void tst_XmlDocument::runsWorkWhileFetching()
{
    FixtureServer server;
    server.serveXml(QStringLiteral("/doc"), "<r>late</r>");
    FixtureServer::Response never;
    never.contentType = "text/xml";
    never.body = "<r/>";
    never.delay = 60s;
    server.serve(QStringLiteral("/never"), never);

    XmlDocument doc;
    int runs = 0;
    QVERIFY(doc.load(server.url(QStringLiteral("/doc")), [&] { ++runs; }));
    QCOMPARE(doc.documentElement().text(), QStringLiteral("late"));
    QVERIFY(!doc.load(QStringLiteral("file:///etc/hostname"), [&] { ++runs; }));
    QCOMPARE(runs, 2);

    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                             doc.load(server.url(QStringLiteral("/never")),
                                      [] { throw std::runtime_error("failed meanwhile"); }));
    QVERIFY2(clock.elapsed() < 10000, "waited for the answer after the work failed");
    QVERIFY(doc.documentElement().isNull());
}

void tst_XmlDocument::capsSize_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("loads");
    QTest::newRow("at the cap") << qsizetype(4096) << true;
    QTest::newRow("one over") << qsizetype(4097) << false;
    QTest::newRow("far over") << qsizetype(1 << 20) << false;
}

void tst_XmlDocument::capsSize()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, loads);
    FixtureServer server;
    server.serveXml(QStringLiteral("/doc"), sized(size));
    XmlDocument::Limits limits;
    limits.maxBytes = 4096;
    XmlDocument doc(limits);
    QCOMPARE(doc.load(server.url(QStringLiteral("/doc"))), loads);
    QCOMPARE(doc.documentElement().isNull(), !loads);
}

void tst_XmlDocument::stopsCountingPastCapWithoutLength()
{
    // No length announced and the end never comes: only the count can stop it.
    RawServer raw("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n" +
                  sized(8192));
    QVERIFY(raw.port() != 0);
    XmlDocument::Limits limits;
    limits.maxBytes = 4096;
    XmlDocument doc(limits);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!doc.load(QStringLiteral("http://127.0.0.1:%1/doc").arg(raw.port())));
    QVERIFY2(clock.elapsed() < 10000, "waited for the transfer to end instead of the count");
}

void tst_XmlDocument::neverExpandsNorFetchesEntities_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("text");

    QTest::newRow("billion laughs") << billionLaughs << false << QString();
    QTest::newRow("external entity")
        << QByteArray("<?xml version='1.0'?><!DOCTYPE r [<!ENTITY ext SYSTEM "
                      "'PORT/secret'>]><r>&ext;</r>")
        << false << QString();
    QTest::newRow("external parameter entity")
        << QByteArray("<!DOCTYPE r [<!ENTITY % ext SYSTEM 'PORT/secret'> %ext;]><r>x</r>") << false
        << QString();
    QTest::newRow("external dtd") << QByteArray("<!DOCTYPE r SYSTEM 'PORT/secret'><r>ok</r>")
                                  << true << QStringLiteral("ok");
}

void tst_XmlDocument::neverExpandsNorFetchesEntities()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, loads);
    QFETCH(QString, text);
    FixtureServer server;
    server.serveXml(QStringLiteral("/doc"), xml.replace("PORT", server.baseUrl().toUtf8()));
    server.serveXml(QStringLiteral("/secret"), "<!ENTITY ext 'leaked'>");

    XmlDocument doc;
    QCOMPARE(doc.load(server.url(QStringLiteral("/doc"))), loads);
    if (loads) {
        QCOMPARE(doc.documentElement().text(), text);
        QCOMPARE(childList(doc.documentElement()).size(), 1); // the DOCTYPE is no node
    } else {
        QVERIFY(doc.documentElement().isNull());
    }
    const auto requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].path, QByteArray("/doc"));
}

void tst_XmlDocument::runsNoEventOfCaller()
{
    FixtureServer server;
    FixtureServer::Response r;
    r.contentType = "text/xml";
    r.body = "<r/>";
    r.delay = 200ms;
    server.serve(QStringLiteral("/doc"), r);

    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    QMetaObject::invokeMethod(
        this, [&] { fired = true; }, Qt::QueuedConnection);
    XmlDocument doc;
    QVERIFY(doc.load(server.url(QStringLiteral("/doc"))));
    QVERIFY(!fired);
    QTRY_VERIFY(fired); // they were pending all along
}

QTEST_GUILESS_MAIN(tst_XmlDocument)
#include "tst_xmldocument.moc"
