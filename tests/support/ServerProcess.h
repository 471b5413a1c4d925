#pragma once

// The reference server as a real process, spoken to over real HTTP on loopback.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kvetest {

struct HttpReply
{
    int status = 0; // 0: no answer
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString error; // what went wrong when there was no answer

    QByteArray header(const QByteArray &name) const;
};

/// One request on a connection of its own ("Connection: close"), written and read with blocking
/// socket calls, so that no event loop is needed and a large body can be sent as is. A Host
/// header among the headers replaces the default one. fromAddress: the loopback address the
/// connection comes from (127.0.0.2 plays a second client).
HttpReply httpRequest(quint16 port, const QByteArray &method, const QByteArray &target,
                      const QByteArray &body = {},
                      const QList<QPair<QByteArray, QByteArray>> &headers = {},
                      int timeoutMs = 30000, const QString &fromAddress = {});

/// A POST of a form body to the page, as the control sends it.
HttpReply postForm(quint16 port, const QByteArray &body);

class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    static QString program();

    /// Starts vendoremp-server with these arguments and "--listen 127.0.0.1:0", and waits until
    /// it prints the address it serves (http:// or https://). False (see log()) when it exits or says nothing in time.
    bool start(const QStringList &arguments);
    /// Sends the signal (SIGTERM by default), then waits for the exit. Returns the exit code, or
    /// -1 when it had to be killed.
    int stop(int timeoutMs = 10000, int signal = 15);

    QString url() const { return m_url; }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    /// Everything the server wrote on standard error so far.
    QString log();

private:
    QTemporaryDir m_dir;
    // A file, not a pipe: a pipe nobody reads in a test without an event loop fills up and
    // blocks the server.
    QString m_stderrPath;
    QProcess m_process;
    QString m_url;
    quint16 m_port = 0;
    int m_starts = 0;
};

/// The form encoding the control applies to each statement: A-Z a-z 0-9 * - . _ kept, space as
/// '+', every other byte as %XX.
QByteArray formEncode(const QByteArray &text);

/// "SQL=<enc>&" for each statement, joined.
QByteArray saveBody(const QList<QByteArray> &statements);

QByteArray insertStatement(qint64 vendorId, qint64 employeeId);
QByteArray deleteStatement(qint64 vendorId, const QList<qint64> &employeeIds);

} // namespace kvetest
