// vendoremp-host: a window that places the vendor employee control the way a host form would.

#include "HostWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KavriVendorEmp"));
    QApplication::setApplicationName(QStringLiteral("vendoremp-host"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Places the vendor employee control with a vendor ID field, a server "
                       "field and a Load button."));
    parser.addHelpOption();
    const QCommandLineOption vendorOption(
        QStringLiteral("vendor-id"), QStringLiteral("Vendor ID to fill in."), QStringLiteral("N"));
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("Server URL prefix to fill in; the window then loads at once. "
                       "http(s)://user:password@host/... logs in with HTTP Basic."),
        QStringLiteral("URL"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Render the window to this PNG once the load has ended, then exit."),
        QStringLiteral("FILE"));
    const QCommandLineOption caOption(
        QStringLiteral("ca-file"),
        QStringLiteral("Also trust the CA certificates (PEM or DER) in this file for https "
                       "servers, beside the system's."),
        QStringLiteral("FILE"));
    parser.addOptions({vendorOption, serverOption, screenshotOption, caOption});
    parser.process(app);

    // The control's network managers take the default TLS configuration: adding the site's CA
    // there, before the first load, is how a host trusts it.
    if (parser.isSet(caOption)) {
        const QString file = parser.value(caOption);
        QList<QSslCertificate> cas = QSslCertificate::fromPath(file, QSsl::Pem);
        if (cas.isEmpty())
            cas = QSslCertificate::fromPath(file, QSsl::Der);
        if (cas.isEmpty()) {
            std::fprintf(stderr, "vendoremp-host: no certificate in %s\n",
                         file.toLocal8Bit().constData());
            return 2;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(cas);
        QSslConfiguration::setDefaultConfiguration(tls);
    }

    vendoremp::host::HostWindow window;
    // Options override what the window remembered.
    if (parser.isSet(vendorOption))
        window.setVendorIdText(parser.value(vendorOption));
    if (parser.isSet(serverOption))
        window.setServerText(parser.value(serverOption));
    const QString screenshot = parser.value(screenshotOption);
    window.setInteractive(screenshot.isEmpty());
    window.show();

    QTimer::singleShot(0, &window, [&] {
        if (parser.isSet(serverOption))
            window.load(); // returns once the load has ended
        if (screenshot.isEmpty())
            return;
        const bool saved = window.grab().save(screenshot, "PNG");
        if (!saved)
            std::fprintf(stderr, "vendoremp-host: cannot write %s\n",
                         screenshot.toLocal8Bit().constData());
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
