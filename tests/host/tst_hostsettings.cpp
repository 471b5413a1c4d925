#include "HostWindow.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>
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
    void asksBeforeLosingChanges_data();
    void asksBeforeLosingChanges();
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

// Changes not yet committed: the title's "*", and a question before a close or a load.
void tst_HostSettings::asksBeforeLosingChanges_data()
{
    QTest::addColumn<bool>("closing");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("moved");
    QTest::newRow("close, cancel") << true << int(QMessageBox::Cancel) << 2;
    QTest::newRow("close, discard") << true << int(QMessageBox::Discard) << 2;
    QTest::newRow("load, cancel") << false << int(QMessageBox::Cancel) << 1;
    QTest::newRow("load, discard") << false << int(QMessageBox::Discard) << 2;
}

void tst_HostSettings::asksBeforeLosingChanges()
{
    QFETCH(bool, closing);
    QFETCH(int, answer);
    QFETCH(int, moved);
    kvetest::FixtureServer server;
    server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                    kvetest::employeeDocument(2, 0, {{"7", "Alice"}, {"9", "Bob"}}, {}));
    HostWindow w;
    w.setVendorIdText(QStringLiteral("12"));
    w.setServerText(server.baseUrl());
    QVERIFY(w.load());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.isWindowModified());
    auto *list = w.control()->findChild<QTreeView *>(QStringLiteral("lstEmployees"));
    for (int i = 0; i < moved; ++i)
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualRect(list->model()->index(0, 1)).center());
    QCOMPARE(w.control()->pendingChanges(), moved);
    QVERIFY(w.isWindowModified());

    kvetest::MessageBoxWatcher boxes;
    boxes.answerWith(answer);
    const bool went = closing ? w.close() : w.load();
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text,
             moved == 1 ? QStringLiteral("1 change is not committed. Discard it?")
                        : QStringLiteral("%1 changes are not committed. Discard them?").arg(moved));
    const bool discarded = answer == QMessageBox::Discard;
    QCOMPARE(went, discarded);
    QCOMPARE(w.isVisible(), !(closing && discarded));
    QCOMPARE(w.control()->pendingChanges(), discarded && !closing ? 0 : moved);
    QCOMPARE(w.isWindowModified(), !(discarded && !closing));
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
