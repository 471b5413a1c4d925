// The host window's question before changes not yet committed are lost.
#include "HostWindow.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QMessageBox>
#include <QTreeView>
#include <QtTest>

using vendoremp::host::HostWindow;

class tst_HostQuestion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void asksBeforeLosingChanges_data();
    void asksBeforeLosingChanges();
};

void tst_HostQuestion::asksBeforeLosingChanges_data()
{
    QTest::addColumn<bool>("closing");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("moved");
    QTest::newRow("close, cancel") << true << int(QMessageBox::Cancel) << 2;
    QTest::newRow("close, discard") << true << int(QMessageBox::Discard) << 2;
    QTest::newRow("load, cancel") << false << int(QMessageBox::Cancel) << 1;
    QTest::newRow("load, discard") << false << int(QMessageBox::Discard) << 2;
}

void tst_HostQuestion::asksBeforeLosingChanges()
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

QTEST_MAIN(tst_HostQuestion)
#include "tst_hostquestion.moc"
