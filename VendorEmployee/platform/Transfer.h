#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <stdexcept>

QT_BEGIN_NAMESPACE
class QNetworkAccessManager;
class QNetworkReply;
QT_END_NAMESPACE

namespace KavriVendorEmp::platform {

/// Execute could not start a request.
class TransferError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The internet transfer component: one asynchronous HTTP request at a time, its progress
/// reported through StateChanged on the thread that owns it.
class Inet : public QObject
{
    Q_OBJECT

public:
    enum State
    {
        icNone = 0,
        icResolvingHost = 1,
        icHostResolved = 2,
        icConnecting = 3,
        icConnected = 4,
        icRequesting = 5,
        icRequestSent = 6,
        icReceivingResponse = 7,
        icResponseReceived = 8,
        icDisconnecting = 9,
        icDisconnected = 10,
        icError = 11,             // the request failed: network error, timeout, non-2xx status
        icResponseCompleted = 12, // the whole reply body can be read with GetChunk
    };

    /// transferTimeout: a request during which no data moves for that long fails (state 11).
    explicit Inet(QObject *parent = nullptr,
                  std::chrono::milliseconds transferTimeout = std::chrono::seconds(30));
    ~Inet() override;

    /// Starts the request and returns at once. operation is "Post" (or "Get"); headers is
    /// "Name: value" lines separated by CR LF (or LF). The URL is read as HttpTarget reads it,
    /// its redirects and credentials handled as HttpExchange handles them. Every state, the last
    /// one included, is emitted from the event loop, never from inside this call.
    /// @throws TransferError while a request is still running, or for a URL or operation it
    /// cannot carry out; its text names the URL without its password.
    void Execute(const QString &url, const QString &operation, const QByteArray &data,
                 const QString &headers);
    /// True from the start of a request until the handlers of its final state (11 or 12) have
    /// returned.
    bool StillExecuting() const;
    /// The next part of the reply body, at most size bytes of it (size >= 4), decoded as UTF-8
    /// across piece boundaries; dataType 0 = text, the only type supported. The empty text once
    /// the whole body has been read. A failed request has no body to read.
    QString GetChunk(int size, int dataType);
    /// Why the last request failed (state 11), in one line; empty while one runs and after one
    /// that completed.
    QString errorString() const;

Q_SIGNALS:
    void StateChanged(int state);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace KavriVendorEmp::platform
