#include "support/FixtureServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace kvetest {

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

QByteArray FixtureServer::Recorded::header(const QByteArray &name) const
{
    for (const auto &[n, v] : headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

FixtureServer::FixtureServer(vendoremp::http::Limits limits)
    : m_server(std::make_unique<vendoremp::http::Server>(
          [this](const Request &request) { return answer(request); }, limits))
{
    m_server->listen("127.0.0.1", 0);
}

FixtureServer::~FixtureServer()
{
    stop();
}

QString FixtureServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString FixtureServer::url(const QString &target) const
{
    return baseUrl() + target;
}

quint16 FixtureServer::port() const
{
    return m_server->port();
}

void FixtureServer::serve(const QString &path, const Response &response)
{
    serve(path, [response](const Request &) { return response; });
}

void FixtureServer::serve(const QString &path, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_routes[path.toStdString()] = std::move(handler);
}

void FixtureServer::serveXml(const QString &path, const QByteArray &xml, int status)
{
    Response r;
    r.status = status;
    r.contentType = "text/xml; charset=utf-8";
    r.body = xml.toStdString();
    serve(path, r);
}

void FixtureServer::serveText(const QString &path, const QByteArray &text, int status)
{
    Response r;
    r.status = status;
    r.body = text.toStdString();
    serve(path, r);
}

void FixtureServer::setFallback(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_fallback = std::move(handler);
}

void FixtureServer::clearRoutes()
{
    std::lock_guard lock(m_mutex);
    m_routes.clear();
    m_fallback = nullptr;
}

QList<FixtureServer::Recorded> FixtureServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

qsizetype FixtureServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return m_requests.size();
}

void FixtureServer::clear()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

bool FixtureServer::waitForRequests(qsizetype n, int timeoutMs)
{
    // The caller's events keep running: a request may come from the calling thread's own
    // asynchronous transfer, which needs them to proceed.
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_requests.size() >= n)
                return true;
            if (deadline.hasExpired())
                return false;
            m_arrived.wait_for(lock, std::chrono::milliseconds(10));
            if (m_requests.size() >= n)
                return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

void FixtureServer::stop()
{
    m_server->stop();
}

FixtureServer::Response FixtureServer::answer(const Request &request)
{
    Recorded rec;
    rec.method = bytes(request.method);
    rec.target = bytes(request.target);
    rec.path = bytes(request.path);
    rec.query = bytes(request.query);
    for (const auto &[name, value] : request.headers)
        rec.headers.append({bytes(name), bytes(value)});
    rec.body = bytes(request.body);

    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(std::move(rec));
        auto route = m_routes.find(request.target);
        if (route == m_routes.end())
            route = m_routes.find(request.path);
        if (route != m_routes.end())
            handler = route->second;
        else
            handler = m_fallback;
    }
    m_arrived.notify_all();

    if (handler)
        return handler(request); // outside the lock: a handler may take its time
    Response notFound;
    notFound.status = 404;
    notFound.body = "Not Found\n";
    return notFound;
}

QByteArray xmlEscaped(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            continue;
        case '<':
            out += QLatin1String("&lt;");
            continue;
        case '>':
            out += QLatin1String("&gt;");
            continue;
        case '"':
            out += QLatin1String("&quot;");
            continue;
        case '\'':
            out += QLatin1String("&apos;");
            continue;
        case '\r':
            out += QLatin1String("&#13;");
            continue;
        case '\t':
        case '\n':
            out += c;
            continue;
        default:
            break;
        }
        if (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            continue;
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            out += c;
            out += s.at(++i);
            continue;
        }
        if (c.isSurrogate())
            continue;
        out += c;
    }
    return out.toUtf8();
}

QByteArray employeeDocument(int nonSelectedCount, int selectedCount,
                            const QList<QPair<QString, QString>> &nonSelected,
                            const QList<QPair<QString, QString>> &selected)
{
    const auto section = [](const char *name, const QList<QPair<QString, QString>> &employees) {
        QByteArray out = QByteArray("<") + name + ">";
        for (const auto &[id, employeeName] : employees)
            out += "<Employee><ID>" + xmlEscaped(id) + "</ID><Name>" + xmlEscaped(employeeName) +
                   "</Name></Employee>";
        return out + "</" + name + ">";
    };
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VendorEmployees>";
    doc += "<Counts><Count><NonSelected>" + QByteArray::number(nonSelectedCount) +
           "</NonSelected><Selected>" + QByteArray::number(selectedCount) +
           "</Selected></Count></Counts>";
    doc += section("NonSelected", nonSelected);
    doc += section("Selected", selected);
    return doc + "</VendorEmployees>\n";
}

} // namespace kvetest
