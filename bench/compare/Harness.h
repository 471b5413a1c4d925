#pragma once

// What the comparison's implementations share: the row counts, the reference servers the
// employees come from, the message-box closer, plain HTTP calls and the change code.

#include "ServerProcess.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace kvecompare {

constexpr int vendor = 2;

inline int rowCount()
{
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue("KVE_BENCH_ROWS", &ok);
    return ok && rows > 1 ? rows : 32767;
}

// 16,000 of 32,767, scaled to the row count.
inline int movedCount()
{
    return std::max(1, int(qint64(rowCount()) * 16000 / 32767));
}

// Row i of n is marked when `count` marks spread evenly over n rows give it one.
inline bool spreadMark(int i, int n, int count)
{
    return qint64(i + 1) * count / n != qint64(i) * count / n;
}

inline void settle()
{
    QCoreApplication::processEvents();
}

class Server
{
public:
    Server()
    {
        const QString database = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("db"));
        if (!m_process.start({QStringLiteral("--database"), database, QStringLiteral("--seed"),
                              QString::number(rowCount())}))
            throw std::runtime_error("vendoremp-server did not start: " +
                                     m_process.log().toStdString());
    }
    QString url() const { return m_process.url(); }
    quint16 port() const { return m_process.port(); }
    QString pageUrl() const { return url() + QStringLiteral("/VendorEmployee.asp"); }
    QString documentUrl() const { return pageUrl() + QStringLiteral("?VendorID=%1").arg(vendor); }

private:
    QTemporaryDir m_dir;
    kvetest::ServerProcess m_process;
};

inline Server &readServer()
{
    static Server server;
    return server;
}

inline Server &writeServer()
{
    static Server server;
    return server;
}

// The commit's reply is shown in a message box; here it is read and closed at once.
class BoxCloser : public QObject
{
public:
    QString lastText;
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(object)) {
                lastText = box->text();
                QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
            }
        }
        return false;
    }
};

inline BoxCloser &boxCloser()
{
    static BoxCloser *closer = [] {
        auto *c = new BoxCloser;
        qApp->installEventFilter(c);
        return c;
    }();
    return *closer;
}

// The same HTTP client the control uses, driven the plainest way.
inline QByteArray httpCall(const QString &url, const QByteArray *postBody = nullptr)
{
    static QNetworkAccessManager shared;
    const QUrl target(url);
    QNetworkRequest request{target};
    // Over https as the control goes about a load: the login goes with the request, and a manager
    // of its own makes a connection of its own, handshake included.
    const bool https = target.scheme() == QLatin1String("https");
    std::optional<QNetworkAccessManager> own;
    if (https) {
        own.emplace();
        request.setUrl(target.adjusted(QUrl::RemoveUserInfo));
        request.setRawHeader("Authorization",
                             "Basic " + (target.userName() + QLatin1Char(':') + target.password())
                                            .toUtf8()
                                            .toBase64());
    }
    QNetworkAccessManager &manager = https ? *own : shared;
    QNetworkReply *reply;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = manager.post(request, *postBody);
    } else {
        reply = manager.get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    const QByteArray body = reply->readAll();
    const bool ok = reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    if (!ok)
        throw std::runtime_error("HTTP request failed: " + url.toStdString());
    return body;
}

inline QString changeCode(const QString &id)
{
    return id.rightJustified(6, u'0');
}

// The commit's body for these inserts and one delete, form encoded, in the statements the
// server's tests send.
inline QByteArray commitBody(const QStringList &inserts, const QStringList &deletes)
{
    QByteArray body;
    for (const QString &id : inserts)
        body +=
            "SQL=" + kvetest::insertStatement(vendor, id.toLongLong()).toPercentEncoding() + '&';
    if (!deletes.isEmpty()) {
        QList<qint64> ids;
        ids.reserve(deletes.size());
        for (const QString &id : deletes)
            ids.append(id.toLongLong());
        body += "SQL=" + kvetest::deleteStatement(vendor, ids).toPercentEncoding() + '&';
    }
    return body;
}

inline void check(benchmark::State &state, bool ok, const char *what)
{
    if (!ok)
        state.SkipWithError(what);
}

} // namespace kvecompare
