#pragma once

// A real nginx of the test's own: a temporary prefix folder holding its configuration, logs,
// temporary files, documents, certificates and password file, started on free loopback ports.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace kvetest {

class Nginx
{
public:
    Nginx();
    ~Nginx();
    Nginx(const Nginx &) = delete;
    Nginx &operator=(const Nginx &) = delete;

    /// A file under the prefix folder, its folders made.
    bool write(const QString &relative, const QByteArray &bytes);
    /// ca.pem, and server.pem with server.key for 127.0.0.1 signed by it, made by openssl.
    bool makeCertificates();
    /// htpasswd holding user with password, hashed by openssl.
    bool makePasswordFile(const QString &user, const QString &password);

    /// Starts nginx with these server blocks inside its http block. In them, @HTTP@ and @HTTPS@
    /// stand for two free ports and @DIR@ for the prefix folder. Returns once both ports answer.
    bool start(QString servers);

    quint16 httpPort() const { return m_ports[0]; }
    quint16 httpsPort() const { return m_ports[1]; }
    QString dir() const { return m_dir.path(); }
    /// The access log, a line per request: method, URI, status, Content-Encoding sent.
    QStringList requests() const;
    /// What went wrong: nginx's error log, or openssl's output.
    QString error() const { return m_error; }

private:
    bool run(const QStringList &arguments, QByteArray *out = nullptr);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_ports[2] = {0, 0};
    QString m_error;
};

} // namespace kvetest
