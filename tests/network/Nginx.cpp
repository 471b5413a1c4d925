#include "Nginx.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>

#include <unistd.h>

namespace kvetest {

Nginx::Nginx() = default;

Nginx::~Nginx()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Nginx::write(const QString &relative, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool Nginx::run(const QStringList &arguments, QByteArray *out)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("openssl"), arguments);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    if (!ok)
        m_error = QString::fromLocal8Bit(p.readAllStandardError());
    return ok;
}

bool Nginx::makeCertificates()
{
    const QStringList ec{u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs, u"ec_paramgen_curve:P-256"_qs,
                         u"-nodes"_qs};
    return write(u"server.ext"_qs, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                                   "extendedKeyUsage=serverAuth\n") &&
           run(QStringList{u"req"_qs, u"-x509"_qs, u"-days"_qs, u"2"_qs, u"-subj"_qs,
                           u"/CN=Test CA"_qs, u"-keyout"_qs, u"ca.key"_qs, u"-out"_qs,
                           u"ca.pem"_qs} +
               ec) &&
           run(QStringList{u"req"_qs, u"-subj"_qs, u"/CN=127.0.0.1"_qs, u"-keyout"_qs,
                           u"server.key"_qs, u"-out"_qs, u"server.csr"_qs} +
               ec) &&
           run({u"x509"_qs, u"-req"_qs, u"-days"_qs, u"2"_qs, u"-in"_qs, u"server.csr"_qs,
                u"-CA"_qs, u"ca.pem"_qs, u"-CAkey"_qs, u"ca.key"_qs, u"-CAcreateserial"_qs,
                u"-extfile"_qs, u"server.ext"_qs, u"-out"_qs, u"server.pem"_qs});
}

bool Nginx::makePasswordFile(const QString &user, const QString &password)
{
    QByteArray hash;
    return run({u"passwd"_qs, u"-apr1"_qs, password}, &hash) &&
           write(u"htpasswd"_qs, user.toUtf8() + ':' + hash + '\n');
}

bool Nginx::start(QString servers)
{
    for (quint16 &port : m_ports) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        port = probe.serverPort();
    }
    QList<quint16> used;
    for (int i = 0; i < 2; ++i) {
        if (servers.contains(i == 0 ? u"@HTTP@"_qs : u"@HTTPS@"_qs))
            used.append(m_ports[i]);
    }
    servers.replace(u"@HTTP@"_qs, QString::number(m_ports[0]))
        .replace(u"@HTTPS@"_qs, QString::number(m_ports[1]))
        .replace(u"@DIR@"_qs, m_dir.path());
    const QString d = m_dir.path();
    QString config = (geteuid() == 0 ? u"user root;\n"_qs : QString()) + uR"(worker_processes 1;
pid @/nginx.pid;
error_log @/error.log;
events { worker_connections 64; }
http {
    log_format requests '$request_method $request_uri $status $sent_http_content_encoding';
    access_log @/access.log requests;
    client_body_temp_path @/tmp/body;
    proxy_temp_path @/tmp/proxy;
    fastcgi_temp_path @/tmp/fastcgi;
    uwsgi_temp_path @/tmp/uwsgi;
    scgi_temp_path @/tmp/scgi;
)"_qs.replace(u'@', d) +
                     servers + u"\n}\n"_qs;
    if (!write(u"nginx.conf"_qs, config.toUtf8()) || !QDir().mkpath(d + u"/tmp"_qs))
        return false;
    m_process.start(u"nginx"_qs,
                    {u"-p"_qs, d, u"-c"_qs, d + u"/nginx.conf"_qs, u"-g"_qs, u"daemon off;"_qs});
    QElapsedTimer waited;
    waited.start();
    for (qsizetype answered = 0; answered < used.size() && waited.elapsed() < 15000;) {
        if (m_process.waitForFinished(100))
            break;
        answered = 0;
        for (quint16 port : used) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            answered += probe.waitForConnected(500) ? 1 : 0;
        }
    }
    QFile log(d + u"/error.log"_qs);
    m_error = log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
    return m_process.state() == QProcess::Running;
}

QStringList Nginx::requests() const
{
    QFile log(m_dir.filePath(u"access.log"_qs));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace kvetest
