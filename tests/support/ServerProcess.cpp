#include "ServerProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>

namespace kvetest {

QByteArray HttpReply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

HttpReply httpRequest(quint16 port, const QByteArray &method, const QByteArray &target,
                      const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers,
                      int timeoutMs, const QString &fromAddress)
{
    HttpReply reply;
    const QDeadlineTimer deadline(timeoutMs);
    QTcpSocket socket;
    if (!fromAddress.isEmpty() && !socket.bind(QHostAddress(fromAddress))) {
        reply.error = socket.errorString();
        return reply;
    }
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs)) {
        reply.error = socket.errorString();
        return reply;
    }
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nConnection: close\r\n";
    bool ownHost = false;
    for (const auto &[key, value] : headers) {
        head += key + ": " + value + "\r\n";
        ownHost = ownHost || key.compare("Host", Qt::CaseInsensitive) == 0;
    }
    if (!ownHost)
        head += "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    if (!body.isEmpty() || method == "POST")
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "\r\n";
    socket.write(head);
    // Written in pieces: the server may answer (413) and close before taking the whole body.
    constexpr qsizetype piece = 256 * 1024;
    for (qsizetype at = 0; at < body.size() && socket.state() == QAbstractSocket::ConnectedState;
         at += piece) {
        socket.write(body.constData() + at, qMin(piece, body.size() - at));
        while (socket.bytesToWrite() > 0 && socket.state() == QAbstractSocket::ConnectedState &&
               !deadline.hasExpired())
            socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    while (socket.bytesToWrite() > 0 && socket.state() == QAbstractSocket::ConnectedState &&
           !deadline.hasExpired())
        socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));

    QByteArray raw;
    while (!deadline.hasExpired()) {
        raw += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    raw += socket.readAll();

    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        reply.error = raw.isEmpty() ? QStringLiteral("no answer (%1)").arg(socket.errorString())
                                    : QStringLiteral("incomplete answer");
        return reply;
    }
    const QList<QByteArray> lines = raw.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    reply.status = statusLine.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    reply.body = raw.mid(headEnd + 4);
    return reply;
}

HttpReply postForm(quint16 port, const QByteArray &body)
{
    return httpRequest(port, "POST", "/VendorEmployee.asp", body,
                       {{"Content-Type", "application/x-www-form-urlencoded"}});
}

ServerProcess::~ServerProcess()
{
    if (m_process.state() != QProcess::NotRunning)
        stop(5000);
}

QString ServerProcess::program()
{
    return QStringLiteral(VENDOREMP_SERVER_PATH);
}

bool ServerProcess::start(const QStringList &arguments)
{
    m_stderrPath = m_dir.filePath(QStringLiteral("stderr-%1.log").arg(++m_starts));
    m_process.setStandardErrorFile(m_stderrPath);
    m_process.setProgram(program());
    m_process.setArguments(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} +
                           arguments);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    QByteArray out;
    const QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() &&
           m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
    }
    static const QRegularExpression address(QStringLiteral("^https?://127\\.0\\.0\\.1:(\\d+)$"));
    const auto match = address.match(QString::fromUtf8(out.trimmed()));
    if (!match.hasMatch())
        return false;
    m_url = match.captured(0);
    m_port = quint16(match.captured(1).toUInt());
    return true;
}

int ServerProcess::stop(int timeoutMs, int signal)
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    ::kill(pid_t(m_process.processId()), signal);
    if (m_process.waitForFinished(timeoutMs))
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.kill();
    m_process.waitForFinished(5000);
    return -1;
}

QString ServerProcess::log()
{
    QFile file(m_stderrPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QByteArray formEncode(const QByteArray &text)
{
    QByteArray out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ' ')
            out += '+';
        else if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                 c == '*' || c == '-' || c == '.' || c == '_')
            out += c;
        else
            out += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
    }
    return out;
}

QByteArray saveBody(const QList<QByteArray> &statements)
{
    QByteArray body;
    for (const QByteArray &statement : statements)
        body += "SQL=" + formEncode(statement) + '&';
    return body;
}

QByteArray insertStatement(qint64 vendorId, qint64 employeeId)
{
    return "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
           "VALUES (" +
           QByteArray::number(vendorId) + ',' + QByteArray::number(employeeId) + ",GETDATE()) ";
}

QByteArray deleteStatement(qint64 vendorId, const QList<qint64> &employeeIds)
{
    QByteArray ids;
    for (qint64 id : employeeIds)
        ids += (ids.isEmpty() ? "" : ",") + QByteArray::number(id);
    return "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=" +
           QByteArray::number(vendorId) + " AND EmployeeID IN(" + ids + ')';
}

} // namespace kvetest
