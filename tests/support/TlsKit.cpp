#include "support/TlsKit.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>

#include <openssl/ssl.h>

#include <array>
#include <memory>

namespace kvetest {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;

namespace {

QString runOpenssl(const QString &folder, const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("openssl %1: %2")
            .arg(arguments.join(u' '), QString::fromLocal8Bit(p.readAll()) + p.errorString());
    return {};
}

} // namespace

TestCertificates makeTestCertificates(const QString &folder)
{
    const QDir dir(folder);
    TestCertificates c{dir.filePath(QStringLiteral("ca.pem")),
                       dir.filePath(QStringLiteral("server.pem")),
                       dir.filePath(QStringLiteral("server.key")),
                       {}};
    QFile ext(dir.filePath(QStringLiteral("server.ext")));
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0) {
        c.error = QStringLiteral("cannot write ") + ext.fileName();
        return c;
    }
    ext.close();
    const QStringList ec = {QStringLiteral("-newkey"), QStringLiteral("ec"),
                            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                            QStringLiteral("-nodes")};
    for (const QStringList &arguments :
         {QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Test CA", "-keyout", "ca.key",
                      "-out", "ca.pem"} + ec,
          QStringList{"req", "-subj", "/CN=localhost", "-keyout", "server.key", "-out",
                      "server.csr"} + ec,
          QStringList{"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                      "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out",
                      "server.pem"}}) {
        c.error = runOpenssl(folder, arguments);
        if (!c.error.isEmpty())
            return c;
    }
    return c;
}

TlsExchange tlsExchange(std::uint16_t port, const QString &caFile, const std::string &bytes,
                        int version, std::chrono::milliseconds timeout,
                        const std::string &fromAddress)
{
    TlsExchange result;
    ssl::context context(ssl::context::tls_client);
    net::io_context ioc; // after the context: gone first, with the pending operations
    boost::system::error_code ec;
    context.load_verify_file(caFile.toStdString(), ec);
    if (ec) {
        result.error = "cannot load " + caFile.toStdString() + ": " + ec.message();
        return result;
    }
    if (version != 0) {
        // Whatever the system's policy: the client offers exactly this version, so that a refusal
        // is the server's.
        SSL_CTX_set_security_level(context.native_handle(), 0);
        SSL_CTX_set_cipher_list(context.native_handle(), "ALL:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(context.native_handle(), version);
        SSL_CTX_set_max_proto_version(context.native_handle(), version);
    }
    auto stream = std::make_shared<ssl::stream<net::ip::tcp::socket>>(ioc, context);
    stream->set_verify_mode(ssl::verify_peer);
    stream->set_verify_callback(ssl::host_name_verification("127.0.0.1"));
    auto buffer = std::make_shared<std::array<char, 4096>>();
    const auto fail = [&result](const char *what, const boost::system::error_code &e) {
        result.error = std::string(what) + ": " + e.message();
    };
    std::function<void()> readMore = [&, stream, buffer] {
        stream->async_read_some(net::buffer(*buffer), [&](boost::system::error_code e,
                                                          std::size_t n) {
            result.answer.append(buffer->data(), n);
            if (!e)
                readMore();
        });
    };
    if (!fromAddress.empty()) {
        boost::system::error_code e;
        const net::ip::address from = net::ip::make_address(fromAddress, e);
        if (!e)
            stream->next_layer().open(from.is_v4() ? net::ip::tcp::v4() : net::ip::tcp::v6(), e);
        if (!e)
            stream->next_layer().bind({from, 0}, e);
        if (e) {
            result.error = "bind " + fromAddress + ": " + e.message();
            return result;
        }
    }
    stream->next_layer().async_connect(
        {net::ip::make_address("127.0.0.1"), port}, [&](boost::system::error_code e) {
            if (e)
                return fail("connect", e);
            stream->async_handshake(ssl::stream_base::client, [&](boost::system::error_code e) {
                if (e)
                    return fail("handshake", e);
                result.handshake = true;
                net::async_write(*stream, net::buffer(bytes),
                                 [&](boost::system::error_code e, std::size_t) {
                                     if (e)
                                         return fail("write", e);
                                     readMore();
                                 });
            });
        });
    ioc.run_for(timeout);
    return result;
}

} // namespace kvetest
