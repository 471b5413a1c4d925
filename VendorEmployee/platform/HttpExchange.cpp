#include "platform/HttpExchange.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>

#include <algorithm>

namespace KavriVendorEmp::platform {

namespace {

bool isHttpScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

} // namespace

QString withoutPassword(const QString &text)
{
    // Read by hand rather than by QUrl, which gives nothing back for a text it cannot parse. The
    // user information ends at the last '@' before the query: a '/' inside a password must not
    // let the rest of it through.
    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return text;
    const qsizetype start = schemeEnd + 3;
    qsizetype end = text.size();
    for (const QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = text.indexOf(stop, start);
        if (at >= 0 && at < end)
            end = at;
    }
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at < start)
        return text;
    const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon) + text.mid(at);
}

HttpTarget::HttpTarget(const QString &text)
{
    // One line for a message, whatever the text held.
    shown = withoutPassword(text).simplified();
    const QUrl parsed(text, QUrl::TolerantMode);
    if (!parsed.isValid()) {
        error = shown + QStringLiteral(": not a valid URL");
        return;
    }
    if (!isHttpScheme(parsed.scheme()) || parsed.host().isEmpty()) {
        error = shown + QStringLiteral(": not an http or https URL");
        return;
    }
    user = parsed.userName(QUrl::FullyDecoded);
    password = parsed.password(QUrl::FullyDecoded);
    url = parsed;
    url.setUserInfo(QString());
    shown = parsed.toString(QUrl::RemovePassword);
}

HttpExchange::HttpExchange(QNetworkAccessManager *manager, const HttpTarget &target,
                           QNetworkRequest base, bool post, QByteArray data, qint64 maxBytes)
    : m_manager(manager), m_target(target), m_base(std::move(base)), m_post(post),
      m_data(std::move(data)), m_maxBytes(maxBytes), m_current(target.url)
{
    // Over https the credentials went with the request: a 401 there refuses them. Over http they
    // are given once; a second 401 ends the request, as an empty authenticator does.
    connect(manager, &QNetworkAccessManager::authenticationRequired, this,
            [this](QNetworkReply *asking, QAuthenticator *authenticator) {
                if (asking != m_reply || m_offered || m_target.user.isEmpty() ||
                    asking->url().scheme() != QLatin1String("http"))
                    return;
                m_offered = true;
                authenticator->setUser(m_target.user);
                authenticator->setPassword(m_target.password);
            });
}

HttpExchange::~HttpExchange()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void HttpExchange::start()
{
    send();
}

void HttpExchange::abort(const QString &cause)
{
    if (m_finished || !m_reply)
        return;
    m_cause = cause;
    m_reply->abort(); // finishes the reply, and so the exchange
}

void HttpExchange::send()
{
    QNetworkRequest request(m_base);
    request.setUrl(m_current);
    // Qt 6.4 following a redirect inside one reply may send a request twice or mix answers on a
    // kept-alive connection: each redirect is a request of its own instead.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (!m_target.user.isEmpty() && m_current.scheme() == QLatin1String("https")) {
        const QByteArray pair = (m_target.user + QLatin1Char(':') + m_target.password).toUtf8();
        request.setRawHeader("Authorization", "Basic " + pair.toBase64());
    }
    m_reply = m_post ? m_manager->post(request, m_data) : m_manager->get(request);
    connect(m_reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        for (const QSslError &e : errors)
            m_tlsErrors.append(e.errorString());
    });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBytes)
            abort(QStringLiteral("the answer is over %1 bytes").arg(m_maxBytes));
        // The announced body in one buffer from the start, rather than one regrown (and copied)
        // as it arrives.
        else if (length.isValid() && m_body.isEmpty())
            m_body.reserve(qsizetype(length.toLongLong()));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpExchange::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &HttpExchange::onFinished);
    Q_EMIT requestStarted(m_reply);
}

void HttpExchange::onReadyRead()
{
    // Read as it arrives, so that the size limit stops an answer without an announced length;
    // straight into the body, with no buffer of its own in between.
    const qint64 available = m_reply->bytesAvailable();
    if (available <= 0)
        return;
    const qsizetype had = m_body.size();
    m_body.resize(had + qsizetype(available));
    const qint64 read = m_reply->read(m_body.data() + had, available);
    m_body.resize(had + qsizetype(std::max<qint64>(read, 0)));
    if (m_body.size() > m_maxBytes)
        abort(QStringLiteral("the answer is over %1 bytes").arg(m_maxBytes));
}

void HttpExchange::onFinished()
{
    QNetworkReply *const reply = m_reply;
    m_reply.clear();
    reply->disconnect(this);
    reply->deleteLater();
    if (reply->isOpen())
        m_body += reply->readAll();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = reply->rawHeader("Location");
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (m_cause.isEmpty() && redirect && !location.isEmpty()) {
        QUrl to = m_current.resolved(QUrl(QString::fromUtf8(location), QUrl::TolerantMode));
        const QString why = ++m_redirects > maxRedirects
                                ? QStringLiteral("more than %1 redirects").arg(maxRedirects)
                                : refusal(m_current, to, status, m_post);
        if (why.isEmpty()) {
            // Credentials come from the target alone, never from a Location.
            to.setUserInfo(QString());
            m_current = to;
            m_body.clear();
            send();
            return;
        }
        m_cause = QStringLiteral("redirect (%1) to %2 refused: %3")
                      .arg(status)
                      .arg(withoutPassword(to.toString()).simplified(), why);
    }

    m_failure = causeOf(reply);
    if (!m_failure.isEmpty())
        m_body.clear();
    else if (m_body.size() > m_maxBytes)
        m_failure =
            m_target.shown + QStringLiteral(": the answer is over %1 bytes").arg(m_maxBytes);
    m_contentType = reply->rawHeader("Content-Type");
    m_finished = true;
    Q_EMIT finished();
}

QString HttpExchange::refusal(const QUrl &from, const QUrl &to, int status, bool post)
{
    const QString fromScheme = from.scheme().toLower();
    const QString toScheme = to.scheme().toLower();
    if (!to.isValid() || !isHttpScheme(toScheme))
        return QStringLiteral("not an http or https URL");
    if (fromScheme == QLatin1String("https") && toScheme == QLatin1String("http"))
        return QStringLiteral("from https to http");
    if (to.host().compare(from.host(), Qt::CaseInsensitive) != 0)
        return QStringLiteral("another host");
    const bool upgrade = fromScheme == QLatin1String("http") && toScheme == QLatin1String("https");
    if (!upgrade && to.port(defaultPort(toScheme)) != from.port(defaultPort(fromScheme)))
        return QStringLiteral("another port");
    // 301, 302 and 303 turn a post into a GET: the statements would be lost on the way.
    if (post && status != 307 && status != 308)
        return QStringLiteral("a post follows only 307 and 308");
    return QString();
}

QString HttpExchange::causeOf(QNetworkReply *reply) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    if (m_cause.isEmpty() && error == QNetworkReply::NoError && status >= 200 && status <= 299)
        return QString();

    QString cause;
    if (!m_cause.isEmpty()) {
        cause = m_cause;
    } else if (!m_tlsErrors.isEmpty()) {
        cause = QStringLiteral("TLS: ") + m_tlsErrors.join(QLatin1String("; "));
    } else if (status > 0 && (status < 200 || status > 299)) {
        cause = QStringLiteral("HTTP %1").arg(status);
        const QString reason =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().simplified();
        if (!reason.isEmpty())
            cause += QLatin1Char(' ') + reason;
        if (status == 401)
            cause += m_target.user.isEmpty() ? QStringLiteral(" (no credentials in the URL)")
                                             : QStringLiteral(" (credentials refused)");
    } else if (error == QNetworkReply::OperationCanceledError) {
        cause = QStringLiteral("the transfer timed out");
    } else {
        cause = withoutPassword(reply->errorString()).simplified();
    }
    return m_target.shown + QStringLiteral(": ") + cause;
}

} // namespace KavriVendorEmp::platform
