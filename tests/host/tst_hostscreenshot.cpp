// vendoremp-host as a process on the offscreen platform: --screenshot renders the window once
// the load has ended, writes a PNG and exits.

#include "ServerProcess.h"
#include "TestDatabase.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace kvetest;

class tst_HostScreenshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void screenshot_data();
    void screenshot();
    void unwritableFileFails();

private:
    struct Run
    {
        int exitCode = -1;
        QByteArray err;
    };
    Run runHost(const QStringList &arguments);

    TestDatabase m_db;
    ServerProcess m_server;
    QTemporaryDir m_dir;
};

void tst_HostScreenshot::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_db.create(TestDatabase::Kind::Sqlite), qPrintable(m_db.error()));
    QVERIFY2(m_server.start({QStringLiteral("--database"), m_db.serverArgument(),
                             QStringLiteral("--seed"), QStringLiteral("demo")}),
             qPrintable(m_server.log()));
}

tst_HostScreenshot::Run tst_HostScreenshot::runHost(const QStringList &arguments)
{
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(VENDOREMP_HOST_PATH), arguments);
    Run run;
    if (!host.waitForFinished(60000)) {
        host.kill();
        host.waitForFinished();
        return run;
    }
    run.exitCode = host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    run.err = host.readAllStandardError();
    return run;
}

void tst_HostScreenshot::screenshot_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<bool>("withServer");
    QTest::addColumn<bool>("loads"); // the server sees the load request
    QTest::newRow("no server") << QString() << false << false;
    QTest::newRow("vendor 12 loaded") << QStringLiteral("12") << true << true;
    QTest::newRow("vendor ID refused") << QStringLiteral("twelve") << true << false;
}

void tst_HostScreenshot::screenshot()
{
    QFETCH(QString, vendor);
    QFETCH(bool, withServer);
    QFETCH(bool, loads);
    const QString file = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".png");
    QStringList arguments{QStringLiteral("--screenshot"), file};
    if (!vendor.isEmpty())
        arguments << QStringLiteral("--vendor-id") << vendor;
    if (withServer)
        arguments << QStringLiteral("--server") << m_server.url();
    const QString logBefore = m_server.log();

    const Run run = runHost(arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFileInfo(file).size() > 0);
    QImage image;
    QVERIFY(image.load(file, "PNG"));
    QVERIFY2(image.width() >= 8745 / 15,
             qPrintable(QString::number(image.width()))); // the control fits

    const QString served = m_server.log().mid(logBefore.size());
    if (loads)
        QVERIFY2(
            served.contains(QStringLiteral("GET /VendorEmployee.asp?VendorID=%1 200").arg(vendor)),
            qPrintable(served));
    else
        QVERIFY2(!served.contains(QStringLiteral("GET ")), qPrintable(served));
    if (withServer && !loads)
        QVERIFY2(run.err.contains("refused"), run.err.constData());
}

void tst_HostScreenshot::unwritableFileFails()
{
    const Run run = runHost({QStringLiteral("--screenshot"),
                             m_dir.filePath(QStringLiteral("no/such/folder/shot.png"))});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("cannot write"));
}

QTEST_GUILESS_MAIN(tst_HostScreenshot)
#include "tst_hostscreenshot.moc"
