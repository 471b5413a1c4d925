#include "HostWindow.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>
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
    void zoomStartsAtTheFontAndIsRemembered_data();
    void zoomStartsAtTheFontAndIsRemembered();

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

void tst_HostSettings::zoomStartsAtTheFontAndIsRemembered_data()
{
    QTest::addColumn<qreal>("pointSize");
    QTest::addColumn<qreal>("start");
    QTest::newRow("9 pt") << 9.0 << 1.0;
    QTest::newRow("7 pt, never below 1") << 7.0 << 1.0;
    QTest::newRow("13.5 pt") << 13.5 << 1.5;
}

// The first start follows the desktop's font; Ctrl++ and Ctrl+- step, Ctrl+0 resets, and the
// next start takes the zoom the window was left at.
void tst_HostSettings::zoomStartsAtTheFontAndIsRemembered()
{
    QFETCH(qreal, pointSize);
    QFETCH(qreal, start);
    const QFont saved = QApplication::font();
    QFont font = saved;
    font.setPointSizeF(pointSize);
    QApplication::setFont(font);
    {
        HostWindow w;
        QCOMPARE(w.control()->zoom(), start);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.findChild<QWidget *>(QStringLiteral("hostLoad"))->setFocus();
        QTest::keyClick(w.windowHandle(), Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(w.windowHandle(), Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(w.windowHandle(), Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(w.control()->zoom(), start + 0.25);
        QVERIFY(w.control()->minimumSize() == w.control()->sizeHint());
    }
    QApplication::setFont(saved);
    HostWindow next;
    QCOMPARE(next.control()->zoom(), start + 0.25);
    next.show();
    QVERIFY(QTest::qWaitForWindowActive(&next));
    QTest::keyClick(next.windowHandle(), Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(next.control()->zoom(), 1.0);
}

QTEST_MAIN(tst_HostSettings)
#include "tst_hostsettings.moc"
