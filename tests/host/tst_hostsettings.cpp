#include "HostWindow.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using vendoremp::host::HostWindow;

class tst_HostSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void firstStartOffersNothing();
    void loadIsOfferedAtNextStart_data();
    void loadIsOfferedAtNextStart();
    void refusedVendorIsNotRemembered();
    void passwordIsNeitherShownNorStored_data();
    void passwordIsNeitherShownNorStored();

private:
    static QString field(HostWindow &w, const char *name)
    {
        return w.findChild<QLineEdit *>(QLatin1String(name))->text();
    }
    QTemporaryDir m_config;
};

void tst_HostSettings::initTestCase()
{
    QVERIFY(m_config.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("KavriVendorEmp"));
    QCoreApplication::setApplicationName(QStringLiteral("vendoremp-host"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
}

void tst_HostSettings::init()
{
    QSettings().clear();
}

void tst_HostSettings::firstStartOffersNothing()
{
    HostWindow w;
    QCOMPARE(field(w, "hostVendorID"), QString());
    QCOMPARE(field(w, "hostServer"), QString());
}

void tst_HostSettings::loadIsOfferedAtNextStart_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::newRow("interactive") << true;
    // A screenshot run must not replace the user's choice.
    QTest::newRow("unattended") << false;
}

void tst_HostSettings::loadIsOfferedAtNextStart()
{
    QFETCH(bool, interactive);
    kvetest::FixtureServer server;
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(1, 0, {{"7", "Alice"}}, {}));
    {
        HostWindow first;
        first.setInteractive(interactive);
        first.setVendorIdText(QStringLiteral(" 12 "));
        first.setServerText(server.baseUrl());
        QVERIFY(first.load());
    }
    QVERIFY(QFileInfo(QSettings().fileName()).path().startsWith(m_config.path()));

    HostWindow next;
    QCOMPARE(field(next, "hostVendorID"), interactive ? QStringLiteral("12") : QString());
    QCOMPARE(field(next, "hostServer"), interactive ? server.baseUrl() : QString());
}

void tst_HostSettings::refusedVendorIsNotRemembered()
{
    kvetest::FixtureServer server;
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(1, 0, {{"7", "Alice"}}, {}));
    {
        HostWindow first;
        first.setVendorIdText(QStringLiteral("12"));
        first.setServerText(server.baseUrl());
        QVERIFY(first.load());
    }
    {
        // Interactive, as a user's run: the refusal shows a box, and nothing is remembered.
        const kvetest::MessageBoxWatcher boxes;
        HostWindow second;
        second.setVendorIdText(QStringLiteral("not a number"));
        second.setServerText(QStringLiteral("http://127.0.0.1:1"));
        QVERIFY(!second.load());
        QCOMPARE(boxes.boxes().size(), 1);
    }
    HostWindow next;
    QCOMPARE(field(next, "hostVendorID"), QStringLiteral("12"));
    QCOMPARE(field(next, "hostServer"), server.baseUrl());
}

void tst_HostSettings::passwordIsNeitherShownNorStored_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::newRow("loaded") << true;
    QTest::newRow("not loaded: the status line says why") << false;
}

void tst_HostSettings::passwordIsNeitherShownNorStored()
{
    QFETCH(bool, reachable);
    kvetest::FixtureServer server;
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(1, 0, {{"7", "Alice"}}, {}));
    const QString host = reachable ? QStringLiteral("127.0.0.1:%1").arg(server.port())
                                   : QStringLiteral("127.0.0.1:1");
    {
        HostWindow first; // interactive: it remembers the server
        first.setVendorIdText(QStringLiteral("12"));
        first.setServerText(QStringLiteral("http://kve:s3cret@") + host);
        QVERIFY(first.load());
        const QString status = first.statusBar()->currentMessage();
        QVERIFY2(status.startsWith(reachable ? QStringLiteral("Vendor 12 from http://kve@")
                                             : QStringLiteral("Not loaded: http://kve@")),
                 qPrintable(status));
        QCOMPARE(first.control()->property("lastError").toString().isEmpty(), reachable);
    }
    QFile stored(QSettings().fileName());
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QVERIFY(!stored.readAll().contains("s3cret"));
    HostWindow next;
    QCOMPARE(field(next, "hostServer"), QStringLiteral("http://kve@") + host);
}

QTEST_MAIN(tst_HostSettings)
#include "tst_hostsettings.moc"
