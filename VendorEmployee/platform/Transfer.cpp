#include "platform/Transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QUrl>

namespace KavriVendorEmp::platform {

namespace {

// A reply is buffered whole until it has been read; beyond this it counts as a failed transfer.
constexpr qint64 kMaxReplyBytes = 64 * 1024 * 1024;

// True when the bytes end inside a UTF-8 sequence that never got its continuation bytes.
bool endsInPartialSequence(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 4 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: keep looking for its lead byte
        const int expected = (byte & 0xE0) == 0xC0   ? 2
                             : (byte & 0xF0) == 0xE0 ? 3
                             : (byte & 0xF8) == 0xF0 ? 4
                                                     : 1;
        return expected > back;
    }
    return false;
}

} // namespace

struct Inet::Private
{
    explicit Private(Inet *q, std::chrono::milliseconds timeout) : q(q), timeout(timeout) {}

    void start(QNetworkReply *newReply);
    void onReadyRead();
    void onFinished();
    // Every state is emitted from a queued call of the component's own, never from inside a
    // reply's signal: a handler may then process events, or even destroy the component, safely.
    void post(int state);
    void deliverFinal(int state);

    Inet *const q;
    const std::chrono::milliseconds timeout;
    QNetworkAccessManager manager;
    QPointer<QNetworkReply> reply;
    bool executing = false;
    bool finished = false; // the reply is over and its whole body buffered
    bool tooLarge = false;
    QByteArray body;
    qsizetype readPosition = 0;
    QStringDecoder decoder{QStringDecoder::Utf8};
    bool flushed = false;
};

void Inet::Private::start(QNetworkReply *newReply)
{
    reply = newReply;
    executing = true;
    finished = false;
    tooLarge = false;
    body.clear();
    readPosition = 0;
    decoder = QStringDecoder(QStringDecoder::Utf8);
    flushed = false;

    QObject::connect(reply, &QNetworkReply::readyRead, q, [this] { onReadyRead(); });
    QObject::connect(reply, &QNetworkReply::finished, q, [this] { onFinished(); });
    QObject::connect(reply, &QNetworkReply::uploadProgress, q,
                     [this, sent = false](qint64 done, qint64 total) mutable {
                         if (!sent && total > 0 && done == total) {
                             sent = true;
                             post(icRequestSent);
                         }
                     });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, q,
                     [this] { post(icReceivingResponse); });
    post(icRequesting);
}

void Inet::Private::onReadyRead()
{
    body += reply->readAll();
    if (body.size() > kMaxReplyBytes && !tooLarge) {
        tooLarge = true;
        reply->abort(); // finishes the reply, with the failure recorded above
    }
}

void Inet::Private::onFinished()
{
    if (reply->isOpen()) // an aborted reply (a timeout) is closed
        body += reply->readAll();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.isValid() ? status.toInt() : 0;
    const bool ok =
        !tooLarge && reply->error() == QNetworkReply::NoError && code >= 200 && code < 300;
    if (!ok)
        body.clear();
    finished = true;
    reply->disconnect(q);
    reply->deleteLater();
    reply.clear();
    post(icResponseReceived);
    QMetaObject::invokeMethod(
        q, [this, ok] { deliverFinal(ok ? icResponseCompleted : icError); }, Qt::QueuedConnection);
}

void Inet::Private::post(int state)
{
    QMetaObject::invokeMethod(
        q, [this, state] { Q_EMIT q->StateChanged(state); }, Qt::QueuedConnection);
}

void Inet::Private::deliverFinal(int state)
{
    // The request counts as running until the handler of its last state has returned.
    QPointer<Inet> alive(q);
    Q_EMIT q->StateChanged(state);
    if (alive)
        executing = false;
}

Inet::Inet(QObject *parent, std::chrono::milliseconds transferTimeout)
    : QObject(parent), d(std::make_unique<Private>(this, transferTimeout))
{
}

Inet::~Inet()
{
    // Nothing of this component may be called back while it goes away.
    if (d->reply) {
        d->reply->disconnect(this);
        d->reply->abort();
    }
}

void Inet::Execute(const QString &url, const QString &operation, const QByteArray &data,
                   const QString &headers)
{
    if (d->executing)
        throw TransferError("a request is still running");

    const QUrl target(url, QUrl::StrictMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || target.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw TransferError("not an http or https URL: " + url.toStdString());

    const bool isPost = operation.compare(QLatin1String("Post"), Qt::CaseInsensitive) == 0;
    const bool isGet = operation.compare(QLatin1String("Get"), Qt::CaseInsensitive) == 0;
    if (!isPost && !isGet)
        throw TransferError("unsupported operation: " + operation.toStdString());

    QNetworkRequest request(target);
    request.setTransferTimeout(int(d->timeout.count()));
    // A post carries statements for this server alone: a redirect fails it rather than sending
    // them on to another host (or, for 301 to 303, silently turning them into a GET).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         isPost ? QNetworkRequest::ManualRedirectPolicy
                                : QNetworkRequest::SameOriginRedirectPolicy);
    const auto lines = QStringView(headers).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QStringView line : lines) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            throw TransferError("malformed header line: " + line.toString().toStdString());
        request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                             line.mid(colon + 1).trimmed().toLatin1());
    }

    d->start(isPost ? d->manager.post(request, data) : d->manager.get(request));
}

bool Inet::StillExecuting() const
{
    return d->executing;
}

QString Inet::GetChunk(int size, int dataType)
{
    if (dataType != 0)
        throw TransferError("only text chunks (data type 0) are supported");
    if (size <= 0)
        return QString();

    QString text;
    // A piece that ends inside a character yields the character with the next piece; keep
    // taking bytes so that a non-empty piece never reads as the end.
    while (text.isEmpty() && d->readPosition < d->body.size()) {
        const qsizetype take = qMin<qsizetype>(size, d->body.size() - d->readPosition);
        text = d->decoder.decode(QByteArrayView(d->body).sliced(d->readPosition, take));
        d->readPosition += take;
    }
    if (text.isEmpty() && d->finished && !d->flushed) {
        // The body ended inside a character: what is left of it reads as one replacement.
        d->flushed = true;
        if (!d->body.isEmpty() && endsInPartialSequence(d->body))
            text = QString(QChar::ReplacementCharacter);
    }
    return text;
}

} // namespace KavriVendorEmp::platform
