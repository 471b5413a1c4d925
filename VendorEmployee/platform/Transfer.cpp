#include "platform/Transfer.h"

#include "platform/HttpExchange.h"

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

    void start(std::unique_ptr<HttpExchange> newExchange);
    void onFinished();
    // Every state is emitted from a queued call of the component's own, never from inside a
    // reply's signal: a handler may then process events, or even destroy the component, safely.
    void post(int state);
    void deliverFinal(int state);

    Inet *const q;
    const std::chrono::milliseconds timeout;
    QNetworkAccessManager manager;
    std::unique_ptr<HttpExchange> exchange; // both go before the manager
    std::unique_ptr<HttpExchange> finishedExchange;
    QString error;
    QString credentials; // user and password of the last request, to drop the manager's cache
    bool executing = false;
    bool finished = false; // the reply is over and its whole body buffered
    QByteArray body;
    qsizetype readPosition = 0;
    QStringDecoder decoder{QStringDecoder::Utf8};
    bool flushed = false;
};

void Inet::Private::start(std::unique_ptr<HttpExchange> newExchange)
{
    finishedExchange.reset();
    exchange = std::move(newExchange);
    error.clear();
    executing = true;
    finished = false;
    body.clear();
    readPosition = 0;
    decoder = QStringDecoder(QStringDecoder::Utf8);
    flushed = false;

    // Bound to the exchange, so that nothing reaches this component once the exchange is gone.
    HttpExchange *const context = exchange.get();
    QObject::connect(context, &HttpExchange::requestStarted, q,
                     [this, context](QNetworkReply *reply) {
                         QObject::connect(reply, &QNetworkReply::uploadProgress, context,
                                          [this, sent = false](qint64 done, qint64 total) mutable {
                                              if (!sent && total > 0 && done == total) {
                                                  sent = true;
                                                  post(icRequestSent);
                                              }
                                          });
                         QObject::connect(reply, &QNetworkReply::metaDataChanged, context,
                                          [this] { post(icReceivingResponse); });
                     });
    QObject::connect(exchange.get(), &HttpExchange::finished, q, [this] { onFinished(); });
    post(icRequesting);
    exchange->start();
}

void Inet::Private::onFinished()
{
    error = exchange->failure();
    body = exchange->body();
    finished = true;
    const bool ok = error.isEmpty();
    // Not deleted inside a signal of its own: kept until the next request or the component goes.
    finishedExchange = std::move(exchange);
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
    if (d->exchange) {
        d->exchange->disconnect(this);
        d->exchange.reset();
    }
}

void Inet::Execute(const QString &url, const QString &operation, const QByteArray &data,
                   const QString &headers)
{
    if (d->executing)
        throw TransferError("a request is still running");

    const HttpTarget target(url);
    if (!target.isValid())
        throw TransferError(target.error.toStdString());

    const bool isPost = operation.compare(QLatin1String("Post"), Qt::CaseInsensitive) == 0;
    const bool isGet = operation.compare(QLatin1String("Get"), Qt::CaseInsensitive) == 0;
    if (!isPost && !isGet)
        throw TransferError("unsupported operation: " + operation.toStdString());

    QNetworkRequest request;
    request.setTransferTimeout(int(d->timeout.count()));
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

    // Credentials the manager remembers from an earlier 401 must not stand in for new ones.
    const QString credentials = target.user + QLatin1Char(':') + target.password;
    if (credentials != d->credentials) {
        d->manager.clearAccessCache();
        d->credentials = credentials;
    }
    // A post carries statements for this server alone: the exchange follows no redirect to
    // another host, and none that would turn the post into a GET.
    d->start(
        std::make_unique<HttpExchange>(&d->manager, target, request, isPost, data, kMaxReplyBytes));
}

QString Inet::errorString() const
{
    return d->error;
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
