#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

QT_BEGIN_NAMESPACE
class QNetworkAccessManager;
class QNetworkReply;
QT_END_NAMESPACE

namespace KavriVendorEmp::platform {

/// The text of a URL with the password of its user information left out. Works on any text, also
/// on one that no URL can be made of, so that it can go into a message as it was given.
QString withoutPassword(const QString &text);

/// Where a request goes, read from the text it was built from. Every request of the control reads
/// its URL this way, so that whatever one reaches, the others reach: leniently (a blank in the path
/// is sent as %20), http or https with a host.
struct HttpTarget
{
    explicit HttpTarget(const QString &text);

    QUrl url;         // without user name and password: those go only where HttpExchange sends them
    QString user;     // from the URL's user information, decoded
    QString password; // never in a message, a log line, or a header over plain http before a 401
    QString shown;    // the URL for messages: the user name kept, the password left out
    QString error;    // "<shown>: why no request can be made of it"; empty when one can

    bool isValid() const { return error.isEmpty(); }
};

/// One GET or POST and the redirects it meets, through the caller's manager. It follows each
/// redirect itself with a new request: the same host, never from https to http, the same port
/// unless it is the upgrade from http to https, at most maxRedirects; a post only on 307 and 308,
/// which keep its method and body. Credentials of the target go with every request over https
/// (Basic, so no second round trip sends the body again) and over http only once the server asks,
/// once; no prompt is ever shown. Certificate errors are never ignored. The final answer's body is
/// buffered, at most maxBytes of it.
class HttpExchange : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxRedirects = 5;

    /// base carries the caller's headers and attributes; its URL is replaced by the target's.
    HttpExchange(QNetworkAccessManager *manager, const HttpTarget &target, QNetworkRequest base,
                 bool post, QByteArray data, qint64 maxBytes);
    ~HttpExchange() override; // a running request is aborted without a word

    void start();
    /// Ends the exchange with this cause (a deadline of the caller's, say); finished() follows at
    /// once.
    void abort(const QString &cause);

    bool isFinished() const { return m_finished; }
    /// Once finished: empty when the final answer had a 2xx status, otherwise the one-line cause,
    /// starting with the URL without its password.
    QString failure() const { return m_failure; }
    /// Once finished: the body of an answer that worked; empty after a failure.
    QByteArray body() const { return m_body; }
    QByteArray contentType() const { return m_contentType; }

    /// Why a redirect with this status from `from` to `to` is not followed; empty to follow it.
    static QString refusal(const QUrl &from, const QUrl &to, int status, bool post);

Q_SIGNALS:
    /// Each request, the first and every redirect's, as it starts.
    void requestStarted(QNetworkReply *reply);
    void finished();

private:
    void send();
    void onReadyRead();
    void onFinished();
    QString causeOf(QNetworkReply *reply) const;

    QNetworkAccessManager *const m_manager;
    const HttpTarget m_target;
    const QNetworkRequest m_base;
    const bool m_post;
    const QByteArray m_data;
    const qint64 m_maxBytes;
    QPointer<QNetworkReply> m_reply;
    QUrl m_current;
    int m_redirects = 0;
    bool m_offered = false; // the credentials were given after a 401 over http
    bool m_finished = false;
    QString m_cause;
    QStringList m_tlsErrors;
    QString m_failure;
    QByteArray m_body;
    QByteArray m_contentType;
};

} // namespace KavriVendorEmp::platform
