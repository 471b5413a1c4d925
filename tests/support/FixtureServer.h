#pragma once

#include "http/HttpServer.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kvetest {

/// A fixture HTTP server on 127.0.0.1, on a free port, for tests that need a real server to talk
/// to. Each path answers what the test set (404 "Not Found" otherwise), and every request is
/// recorded byte for byte before it is answered. Thread-safe: the server answers on its own
/// threads while the test thread sets answers and reads the record.
class FixtureServer
{
public:
    using Request = vendoremp::http::Request;
    using Response = vendoremp::http::Response;
    using Handler = std::function<Response(const Request &)>;

    struct Recorded
    {
        QByteArray method;                            // "GET", "POST", ...
        QByteArray target;                            // path and query, exactly as sent
        QByteArray path;                              // target up to '?'
        QByteArray query;                             // after '?', without it
        QList<QPair<QByteArray, QByteArray>> headers; // in the order received
        QByteArray body;                              // raw bytes, chunked bodies decoded

        /// The first header of that name (case-insensitive), or an empty array.
        QByteArray header(const QByteArray &name) const;
    };

    /// Starts listening at once. @throws std::runtime_error when it cannot
    explicit FixtureServer(vendoremp::http::Limits limits = {});
    ~FixtureServer();
    FixtureServer(const FixtureServer &) = delete;
    FixtureServer &operator=(const FixtureServer &) = delete;

    /// "http://127.0.0.1:PORT", without a trailing slash.
    QString baseUrl() const;
    /// baseUrl() followed by target, e.g. url("/VendorEmployee.asp?VendorID=1").
    QString url(const QString &target) const;
    quint16 port() const;

    /// Answers requests for path with response. A key holding '?' matches that exact target
    /// only and wins over a plain path; a plain path matches any query.
    void serve(const QString &path, const Response &response);
    /// Answers with a handler, called on a server thread (it must be thread-safe).
    void serve(const QString &path, Handler handler);
    /// Answers with an XML document, "text/xml; charset=utf-8".
    void serveXml(const QString &path, const QByteArray &xml, int status = 200);
    /// Answers with plain text, e.g. an error page or a save reply.
    void serveText(const QString &path, const QByteArray &text, int status = 200);
    /// What unknown paths get instead of 404.
    void setFallback(Handler handler);
    /// Forgets every answer set; unknown paths get 404 again.
    void clearRoutes();

    /// Every request received so far, in order of arrival.
    QList<Recorded> requests() const;
    qsizetype requestCount() const;
    /// Forgets the recorded requests; the answers stay.
    void clear();
    /// Waits, processing the calling thread's events, until at least n requests were recorded.
    /// Returns whether they were.
    bool waitForRequests(qsizetype n, int timeoutMs = 5000);

    /// Stops answering; connections are closed. Idempotent; also done by the destructor.
    void stop();

private:
    Response answer(const Request &request);

    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::map<std::string, Handler> m_routes;
    Handler m_fallback;
    QList<Recorded> m_requests;
    std::unique_ptr<vendoremp::http::Server> m_server; // last: stops before the rest goes
};

/// The text of s for XML content or attribute values, UTF-8: markup characters as entities, CR as
/// a reference (a parser turns a bare CR into LF); characters XML cannot carry at all (control
/// characters other than TAB, LF and CR, unpaired surrogates) are left out.
QByteArray xmlEscaped(const QString &s);

/// An employee document in the layout the control reads: root; counts section with one record of
/// the two counts; non-selected section; selected section; each record holding its ID field then
/// its name field. The counts are written as given (they need not match the lists). An empty
/// name gives an empty field element.
QByteArray employeeDocument(int nonSelectedCount, int selectedCount,
                            const QList<QPair<QString, QString>> &nonSelected,
                            const QList<QPair<QString, QString>> &selected);

} // namespace kvetest
