// A commit whose save fails keeps every pending change, and the buttons as they were; the next
// commit that works posts exactly those changes. Driven through the control's widgets.

#include "ServerProcess.h"
#include "control/VendorEmployee_p.h"
#include "editing/EditorHarness.h"
#include "platform/Widgets.h"
#include "support/MessageBoxWatcher.h"

#include <QProgressBar>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace kvetest;
using KavriVendorEmp::VendorEmployeePrivate;

class tst_CommitMend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failedCommitKeepsTheChanges_data();
    void failedCommitKeepsTheChanges();
};

void tst_CommitMend::failedCommitKeepsTheChanges_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("lastError");
    QTest::newRow("HTTP 500") << u"500"_qs << u"Error During saving to Database"_qs
                              << u"HTTP 500"_qs;
    QTest::newRow("server gone") << u"gone"_qs << u"Error During saving to Database"_qs
                                 << u"Connection refused"_qs;
    QTest::newRow("Execute refused: a request still running")
        << u"busy"_qs << u"Error Occoured"_qs << u"a request is still running"_qs;
}

void tst_CommitMend::failedCommitKeepsTheChanges()
{
    QFETCH(QString, failure);
    QFETCH(QString, box);
    QFETCH(QString, lastError);

    Editor e;
    const QList<Employee> nonSelected = Editor::ids({1, 2, 3});
    const QList<Employee> selected = Editor::ids({4, 5});
    e.load(nonSelected, selected);
    VendorEmployeePrivate *d = VendorEmployeePrivate::get(e.control.get());
    Editor::clickRow(e.lstEmployees, u"2"_qs);
    QTest::mouseClick(e.cmdAdd, Qt::LeftButton);
    Editor::clickRow(e.lstSelectedEmployees, u"5"_qs);
    QTest::mouseClick(e.cmdDelete, Qt::LeftButton);
    Editor::clickRow(e.lstEmployees, u"1"_qs);

    const auto state = [&] {
        QStringList s = Editor::texts(e.lstEmployees) + Editor::codes(e.lstEmployees) +
                        Editor::texts(e.lstSelectedEmployees) +
                        Editor::codes(e.lstSelectedEmployees);
        for (QPushButton *b : {e.cmdAdd, e.cmdAddAll, e.cmdDelete, e.cmdRemoveAll, e.cmdCommit})
            s << QString::number(b->isEnabled());
        return s;
    };
    const QStringList before = state();
    QVERIFY(before.contains(u"000002N"_qs) && before.contains(u"000005D"_qs));

    std::atomic<bool> slow = false;
    if (failure == u"500"_qs) {
        e.server.serveText(u"/VendorEmployee.asp"_qs, "database down", 500);
    } else if (failure == u"gone"_qs) {
        e.server.stop();
    } else {
        e.server.serve(u"/slow"_qs, [&](const FixtureServer::Request &) {
            while (!slow)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return FixtureServer::Response{};
        });
        const qsizetype loaded = e.server.requestCount();
        d->Inet1->Execute(e.server.url(u"/slow"_qs), u"Post"_qs, "x=1", QString());
        QVERIFY(e.server.waitForRequests(loaded + 1));
    }
    const qsizetype requestsBefore = e.server.requestCount();

    MessageBoxWatcher boxes;
    QTest::mouseClick(e.cmdCommit, Qt::LeftButton);
    slow = true;

    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, box);
    QVERIFY2(e.control->lastError().contains(lastError), qPrintable(e.control->lastError()));
    QCOMPARE(state(), before);
    QCOMPARE(e.control->findChild<QProgressBar *>(u"prbLoad"_qs)->value(), 0);
    QCOMPARE(KavriVendorEmp::platform::mousePointer(e.control.get()),
             int(KavriVendorEmp::platform::vbDefault));
    // No reload was asked for; a refused Execute sent nothing at all.
    QCOMPARE(e.server.requestCount(), requestsBefore + (failure == u"500"_qs ? 1 : 0));
    QTRY_VERIFY(!d->Inet1->StillExecuting());

    // The server is back (a new one here): the next commit posts exactly the kept changes.
    FixtureServer back;
    back.serveXml(u"/VendorEmployee.asp"_qs, employeeDocument(3, 2, {}, {}));
    d->m_serverName = back.baseUrl();
    QTest::mouseClick(e.cmdCommit, Qt::LeftButton);
    QVERIFY2(e.control->lastError().isEmpty(), qPrintable(e.control->lastError()));
    const QList<FixtureServer::Recorded> sent = back.requests();
    QCOMPARE(sent.size(), 2); // the post, then the reload
    QCOMPARE(sent.first().body, saveBody({insertStatement(12, 2), deleteStatement(12, {5})}));
    QCOMPARE(sent.last().method, QByteArray("GET"));
}

QTEST_MAIN(tst_CommitMend)
#include "tst_commitmend.moc"
