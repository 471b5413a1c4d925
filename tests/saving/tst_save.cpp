// The save: what "Commit to Database" and SaveToDatabase post, byte for byte, to a real loopback
// server; the commit flow around it; the server's answer; and the faults the save must not have.

#include "control/VendorEmployee_p.h"
#include "platform/Widgets.h"
#include "saving/UrlEncode.h"
#include "support/FixtureServer.h"
#include "support/MessageBoxWatcher.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <memory>
#include <mutex>

using namespace KavriVendorEmp;
using kvetest::FixtureServer;
using kvetest::MessageBoxWatcher;
using platform::ListView;

namespace {

const QString kPage = QStringLiteral("/VendorEmployee.asp");
const QByteArray kFormType = "application/x-www-form-urlencoded";

using Rows = QList<QPair<QString, QString>>; // (ID, change code)

// The server page: the employee document for a GET, the save reply for a POST. Answered on the
// server's threads, so every change goes through the lock.
struct Page
{
    std::mutex mutex;
    QByteArray document;
    FixtureServer::Response postReply;
    QByteArray documentAfterPost; // when set, what a GET answers once a POST arrived

    FixtureServer::Response answer(const FixtureServer::Request &request)
    {
        std::lock_guard lock(mutex);
        if (request.method == "POST") {
            if (!documentAfterPost.isEmpty())
                document = documentAfterPost;
            return postReply;
        }
        FixtureServer::Response response;
        response.contentType = "text/xml; charset=utf-8";
        response.body = document.toStdString();
        return response;
    }
};

FixtureServer::Response textReply(const QByteArray &text, int status = 200)
{
    FixtureServer::Response response;
    response.status = status;
    response.body = text.toStdString();
    return response;
}

QByteArray bodyOf(const QStringList &statements)
{
    QByteArray body;
    for (const QString &statement : statements)
        body += "SQL=" + formUrlEncode(statement).toLatin1() + '&';
    return body;
}

QString insertSql(const QString &vendor, const QString &id)
{
    return u"INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
           "VALUES ("_qs +
           vendor + u',' + id + u",GETDATE()) "_qs;
}

QString deleteSql(const QString &vendor, const QString &ids)
{
    return u"DELETE FROM VendorEmployeeCrossReference WHERE VendorID="_qs + vendor +
           u" AND EmployeeID IN("_qs + ids + u')';
}

// Thread CPU time of the calling thread, in milliseconds.
double threadCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

} // namespace

class tst_Save : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void workedExample();
    void posts_data();
    void posts();
    void nothingChangedPostsNothing();
    void commitFlow();
    void directSaveChangesNoButtonAndReloadsNothing();
    void reply_data();
    void reply();
    void failedTransfer_data();
    void failedTransfer();
    void executeRefusedWhileRequestRuns();
    void tooManyStatementsPostNothing();

    // Faults the save must not have.
    void unsafeRowTextTakesErrorPath_data();
    void unsafeRowTextTakesErrorPath();
    void vendorSetAfterLoadDoesNotRetargetEdits();
    void waitSleepsAndStillRunsEvents();
    void controlDestroyedDuringWait_data();
    void controlDestroyedDuringWait();
    void httpErrorStatusIsNotShownAsInformation();

private:
    // Loads vendor from the page, then puts the rows into the lists as they would stand after
    // edits: each row holds the given ID and change code.
    void loadAndEdit(const QString &vendor, const Rows &selectedRows, const Rows &employeeRows);
    QList<FixtureServer::Recorded> sentPosts() const;
    QPushButton *button(const char *name) const;

    std::unique_ptr<FixtureServer> m_server;
    std::shared_ptr<Page> m_page;
    std::unique_ptr<VendorEmployee> m_control;
    VendorEmployeePrivate *d = nullptr;
    std::unique_ptr<MessageBoxWatcher> m_boxes;
};

void tst_Save::init()
{
    m_server = std::make_unique<FixtureServer>();
    m_page = std::make_shared<Page>();
    m_page->document = kvetest::employeeDocument(1, 1, {{u"40"_qs, u"Forty"_qs}},
                                                 {{u"205"_qs, u"Two Oh Five"_qs}});
    m_page->postReply = textReply(QByteArray());
    m_server->serve(kPage, [page = m_page](const FixtureServer::Request &request) {
        return page->answer(request);
    });
    m_control = std::make_unique<VendorEmployee>();
    d = VendorEmployeePrivate::get(m_control.get());
    m_boxes = std::make_unique<MessageBoxWatcher>();
}

void tst_Save::cleanup()
{
    m_boxes.reset();
    m_control.reset();
    m_server.reset();
}

void tst_Save::loadAndEdit(const QString &vendor, const Rows &selectedRows,
                           const Rows &employeeRows)
{
    m_control->setVendorID(vendor);
    m_control->setServerName(m_server->baseUrl());
    QCOMPARE(m_server->requestCount(), 1);
    const auto put = [](ListView *list, const Rows &rows) {
        for (const auto &[id, code] : rows) {
            platform::ListItem row = list->Add(id);
            row.setSubItems(1, u"Employee "_qs + id);
            row.setSubItems(2, code);
        }
    };
    put(d->lstSelectedEmployees, selectedRows);
    put(d->lstEmployees, employeeRows);
    m_server->clear();
}

QList<FixtureServer::Recorded> tst_Save::sentPosts() const
{
    QList<FixtureServer::Recorded> result;
    for (const auto &request : m_server->requests())
        if (request.method == "POST")
            result.append(request);
    return result;
}

QPushButton *tst_Save::button(const char *name) const
{
    return m_control->findChild<QPushButton *>(QLatin1String(name));
}

void tst_Save::workedExample()
{
    // The loaded rows are 205 (selected) and 40; the rest were moved across. Sorted on the ID
    // text, the selected list reads 101, 205, 7.
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}, {u"7"_qs, u"000007N"_qs}},
                {{u"33"_qs, u"000033D"_qs}, {u"51"_qs, u"000051D"_qs}});
    d->lstSelectedEmployees->setSortKey(0);
    d->lstEmployees->setSortKey(0);

    m_control->SaveToDatabase();

    const auto sent = sentPosts();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].target, QByteArray("/VendorEmployee.asp"));
    QCOMPARE(sent[0].header("Content-Type"), kFormType);
    QCOMPARE(sent[0].body,
             QByteArray("SQL=INSERT+INTO+VendorEmployeeCrossReference+%28VendorID%2CEmployeeID%2C"
                        "RecordLastUpdated%29+VALUES+%2812%2C101%2CGETDATE%28%29%29+&"
                        "SQL=INSERT+INTO+VendorEmployeeCrossReference+%28VendorID%2CEmployeeID%2C"
                        "RecordLastUpdated%29+VALUES+%2812%2C7%2CGETDATE%28%29%29+&"
                        "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+VendorID%3D12+AND+"
                        "EmployeeID+IN%2833%2C51%29&"));
    QVERIFY(m_boxes->boxes().isEmpty());
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
}

void tst_Save::posts_data()
{
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<Rows>("selectedRows");
    QTest::addColumn<Rows>("employeeRows");
    QTest::addColumn<int>("sortKey");
    QTest::addColumn<int>("sortOrder");
    QTest::addColumn<QStringList>("statements");

    QTest::newRow("only deletes") << u"12"_qs << Rows{}
                                  << Rows{{u"33"_qs, u"000033D"_qs}, {u"51"_qs, u"000051D"_qs}} << 2
                                  << 0 << QStringList{deleteSql(u"12"_qs, u"33,51"_qs)};
    QTest::newRow("one delete") << u"12"_qs << Rows{} << Rows{{u"33"_qs, u"000033D"_qs}} << 2 << 0
                                << QStringList{deleteSql(u"12"_qs, u"33"_qs)};
    QTest::newRow("only inserts") << u"12"_qs
                                  << Rows{{u"101"_qs, u"000101N"_qs}, {u"7"_qs, u"000007N"_qs}}
                                  << Rows{} << 2 << 0
                                  << QStringList{insertSql(u"12"_qs, u"7"_qs),
                                                 insertSql(u"12"_qs, u"101"_qs)};
    QTest::newRow("negative vendor")
        << u"-5"_qs << Rows{{u"101"_qs, u"000101N"_qs}} << Rows{{u"33"_qs, u"000033D"_qs}} << 2 << 0
        << QStringList{insertSql(u"-5"_qs, u"101"_qs), deleteSql(u"-5"_qs, u"33"_qs)};
    // Descending on the change code: the loaded 205 and 40 stay out, being unchanged.
    QTest::newRow("rows in sorted order")
        << u"12"_qs
        << Rows{{u"7"_qs, u"000007N"_qs}, {u"300"_qs, u"000300N"_qs}, {u"101"_qs, u"000101N"_qs}}
        << Rows{{u"51"_qs, u"000051D"_qs}, {u"9"_qs, u"000009D"_qs}, {u"33"_qs, u"000033D"_qs}} << 2
        << 1
        << QStringList{insertSql(u"12"_qs, u"300"_qs), insertSql(u"12"_qs, u"101"_qs),
                       insertSql(u"12"_qs, u"7"_qs), deleteSql(u"12"_qs, u"51,33,9"_qs)};
    // A suffix of either letter is a change; the list decides its kind.
    QTest::newRow("suffix letter ignored")
        << u"12"_qs << Rows{{u"8"_qs, u"000008D"_qs}} << Rows{{u"9"_qs, u"000009N"_qs}} << 2 << 0
        << QStringList{insertSql(u"12"_qs, u"8"_qs), deleteSql(u"12"_qs, u"9"_qs)};
    QTest::newRow("seven-digit and zero-padded IDs")
        << u"12"_qs << Rows{{u"1234567"_qs, u"1234567N"_qs}} << Rows{{u"000042"_qs, u"000042D"_qs}}
        << 2 << 0
        << QStringList{insertSql(u"12"_qs, u"1234567"_qs), deleteSql(u"12"_qs, u"000042"_qs)};
}

void tst_Save::posts()
{
    QFETCH(QString, vendor);
    QFETCH(Rows, selectedRows);
    QFETCH(Rows, employeeRows);
    QFETCH(int, sortKey);
    QFETCH(int, sortOrder);
    QFETCH(QStringList, statements);

    loadAndEdit(vendor, selectedRows, employeeRows);
    for (ListView *list : {d->lstSelectedEmployees, d->lstEmployees}) {
        list->setSortKey(sortKey);
        list->setSortOrder(sortOrder);
    }
    m_control->SaveToDatabase();

    const auto sent = sentPosts();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].path, QByteArray("/VendorEmployee.asp"));
    QCOMPARE(sent[0].header("Content-Type"), kFormType);
    QCOMPARE(sent[0].body, bodyOf(statements));
}

void tst_Save::nothingChangedPostsNothing()
{
    // Rows moved home again carry plain codes: nothing to send, but the commit still reloads.
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101"_qs}}, {{u"33"_qs, u"000033"_qs}});
    d->prbLoad->setValue(1);

    d->cmdCommit->setEnabled(true);
    d->cmdCommit->click();

    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("GET"));
    QCOMPARE(requests[0].target, QByteArray("/VendorEmployee.asp?VendorID=12"));
    QCOMPARE(d->prbLoad->value(), 0);
    QVERIFY(m_boxes->boxes().isEmpty());
    QVERIFY(!d->Inet1->StillExecuting());
}

void tst_Save::commitFlow()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("1 statement executed");
        m_page->documentAfterPost = kvetest::employeeDocument(
            1, 2, {{u"40"_qs, u"Forty"_qs}},
            {{u"101"_qs, u"One Oh One"_qs}, {u"205"_qs, u"Two Oh Five"_qs}});
    }

    // The order in which the buttons go grey.
    struct Recorder : QObject
    {
        QStringList disabled;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::EnabledChange &&
                !static_cast<QWidget *>(watched)->isEnabled())
                disabled.append(watched->objectName());
            return false;
        }
    } recorder;
    const QStringList five{u"cmdAdd"_qs, u"cmdAddAll"_qs, u"cmdDelete"_qs, u"cmdRemoveAll"_qs,
                           u"cmdCommit"_qs};
    for (const QString &name : five) {
        QPushButton *b = button(name.toLatin1().constData());
        b->setEnabled(true);
        b->installEventFilter(&recorder);
    }
    // While the post runs, all five stay disabled.
    QStringList enabledDuringWait;
    connect(d->Inet1, &platform::Inet::StateChanged, this, [&](int state) {
        if (state == platform::Inet::icResponseCompleted)
            for (const QString &name : five)
                if (button(name.toLatin1().constData())->isEnabled())
                    enabledDuringWait.append(name);
    });

    d->cmdCommit->click();

    QCOMPARE(recorder.disabled.mid(0, 5), five);
    QVERIFY(enabledDuringWait.isEmpty());
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[0].body, bodyOf({insertSql(u"12"_qs, u"101"_qs)}));
    QCOMPARE(requests[1].method, QByteArray("GET"));
    QCOMPARE(requests[1].target, QByteArray("/VendorEmployee.asp?VendorID=12"));

    QCOMPARE(m_boxes->boxes().size(), 1);
    const auto box = m_boxes->boxes().first();
    QCOMPARE(box.text, u"1 statement executed"_qs);
    QCOMPARE(box.title, u"Vendor Employee Cross Reference"_qs);
    QCOMPARE(box.icon, int(QMessageBox::Information));
    QCOMPARE(box.textFormat, int(Qt::PlainText));

    QCOMPARE(d->prbLoad->value(), 0);
    // The reloaded lists show what the server now holds, every row unchanged.
    QCOMPARE(d->lstSelectedEmployees->Count(), 2);
    QVERIFY(d->lstSelectedEmployees->FindItem(u"101"_qs));
    QCOMPARE(d->lstSelectedEmployees->FindItem(u"101"_qs).SubItems(2), u"000101"_qs);
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
}

void tst_Save::directSaveChangesNoButtonAndReloadsNothing()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {{u"33"_qs, u"000033D"_qs}});
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        button(name)->setEnabled(true);
    d->prbLoad->setValue(1);

    m_control->SaveToDatabase();
    m_control->SaveToDatabase();

    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[1].method, QByteArray("POST"));
    QCOMPARE(requests[1].body, requests[0].body);
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        QVERIFY2(button(name)->isEnabled(), name);
    QCOMPARE(d->prbLoad->value(), 1);
    QCOMPARE(d->lstSelectedEmployees->FindItem(u"101"_qs).SubItems(2), u"000101N"_qs);
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
}

void tst_Save::reply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("shown");

    // Multi-byte characters land on every piece boundary of a 1024-byte read.
    QByteArray longReply;
    for (int i = 0; longReply.size() < 5000; ++i)
        longReply += i % 3 ? QByteArray("line ") + QByteArray::number(i) + '\n'
                           : QString(u"\u00e9\u20ac\U0001F600 "_qs).toUtf8();
    QTest::newRow("over 1024 bytes") << longReply << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("spaces only") << QByteArray("     ") << false;
    QTest::newRow("line breaks only") << QByteArray("\r\n\n") << true;
    QTest::newRow("tab only") << QByteArray("\t") << true;
    QTest::newRow("padded") << QByteArray("  done  ") << true;
    QTest::newRow("markup stays text") << QByteArray("<b>2</b> rows &amp; more") << true;
}

void tst_Save::reply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, shown);

    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply(reply);
    }
    m_control->SaveToDatabase();

    QCOMPARE(sentPosts().size(), 1);
    if (!shown) {
        QVERIFY(m_boxes->boxes().isEmpty());
        return;
    }
    QCOMPARE(m_boxes->boxes().size(), 1);
    const auto box = m_boxes->boxes().first();
    QCOMPARE(box.text, QString::fromUtf8(reply));
    QCOMPARE(box.title, u"Vendor Employee Cross Reference"_qs);
    QCOMPARE(box.icon, int(QMessageBox::Information));
    QCOMPARE(box.textFormat, int(Qt::PlainText));
}

void tst_Save::failedTransfer_data()
{
    QTest::addColumn<int>("status"); // 0: the server is down
    QTest::newRow("HTTP 500") << 500;
    QTest::newRow("HTTP 404") << 404;
    QTest::newRow("HTTP 400") << 400;
    QTest::newRow("server down") << 0;
}

void tst_Save::failedTransfer()
{
    QFETCH(int, status);
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    if (status == 0) {
        m_server->stop();
    } else {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("statement refused", status);
    }
    QApplication::setApplicationDisplayName(u"Host"_qs);

    m_control->SaveToDatabase();

    QCOMPARE(m_boxes->boxes().size(), 1);
    const auto box = m_boxes->boxes().first();
    QCOMPARE(box.text, u"Error During saving to Database"_qs);
    QCOMPARE(box.icon, int(QMessageBox::NoIcon));
    QCOMPARE(box.title, u"Host"_qs); // no title of its own
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
    QVERIFY(!d->Inet1->StillExecuting());
}

void tst_Save::executeRefusedWhileRequestRuns()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("saved");
        m_page->postReply.delay = std::chrono::milliseconds(500);
    }
    // The host calls again while the first post is still running: the component refuses.
    bool nestedRan = false;
    QTimer::singleShot(100, m_control.get(), [&] {
        m_control->SaveToDatabase();
        nestedRan = true;
    });
    d->cmdCommit->setEnabled(true);
    d->cmdCommit->click();

    QVERIFY(nestedRan);
    QCOMPARE(sentPosts().size(), 1);
    const auto boxes = m_boxes->boxes();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[0].text, u"Error Occoured"_qs);
    QCOMPARE(boxes[0].title, u"Information"_qs);
    QCOMPARE(boxes[0].icon, int(QMessageBox::Critical));
    QCOMPARE(boxes[1].text, u"saved"_qs);
    // The outer save went on to its end: the commit reloaded.
    QCOMPARE(m_server->requests().last().method, QByteArray("GET"));
    QCOMPARE(d->prbLoad->value(), 0);
}

void tst_Save::tooManyStatementsPostNothing()
{
    // 32,767 inserts and one delete: one statement more than the 16-bit walk can count.
    loadAndEdit(u"12"_qs, {}, {{u"33"_qs, u"000033D"_qs}});
    {
        ListView::BulkUpdate bulk(d->lstSelectedEmployees);
        for (int id = 1000; id < 1000 + 32767; ++id) {
            platform::ListItem row = d->lstSelectedEmployees->Add(QString::number(id));
            row.setSubItems(2, QString::number(id) + u'N');
        }
    }
    m_control->SaveToDatabase();

    QCOMPARE(sentPosts().size(), 0);
    QCOMPARE(m_boxes->boxes().size(), 1);
    QCOMPARE(m_boxes->boxes().first().text, u"Error Occoured"_qs);
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));

    // One fewer fits.
    d->lstEmployees->Clear();
    m_boxes->clear();
    m_control->SaveToDatabase();
    QCOMPARE(sentPosts().size(), 1);
    QCOMPARE(sentPosts().first().body.count("SQL="), 32767);
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_Save::unsafeRowTextTakesErrorPath_data()
{
    QTest::addColumn<bool>("inSelected");
    QTest::addColumn<QString>("id");

    const QString injection = u"1,GETDATE()); DELETE FROM VendorEmployeeCrossReference; --"_qs;
    QTest::newRow("insert: statement text") << true << injection;
    QTest::newRow("delete: statement text") << false << u"1) OR (1=1"_qs;
    QTest::newRow("insert: letters") << true << u"abc"_qs;
    QTest::newRow("delete: blank around") << false << u" 33"_qs;
    QTest::newRow("insert: empty") << true << QString();
    QTest::newRow("delete: decimal") << false << u"3.5"_qs;
}

void tst_Save::unsafeRowTextTakesErrorPath()
{
    QFETCH(bool, inSelected);
    QFETCH(QString, id);

    // A safe change beside the unsafe one: nothing at all may be posted.
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {{u"33"_qs, u"000033D"_qs}});
    platform::ListItem row = (inSelected ? d->lstSelectedEmployees : d->lstEmployees)->Add(id);
    row.setSubItems(2, u"000000"_qs + (inSelected ? u'N' : u'D'));

    d->cmdCommit->setEnabled(true);
    d->cmdCommit->click();

    QCOMPARE(sentPosts().size(), 0);
    QCOMPARE(m_boxes->boxes().size(), 1);
    const auto box = m_boxes->boxes().first();
    QCOMPARE(box.text, u"Error Occoured"_qs);
    QCOMPARE(box.title, u"Information"_qs);
    QCOMPARE(box.icon, int(QMessageBox::Critical));
    // A failed save is not followed by a reload: the pending changes stay to be committed again.
    QCOMPARE(m_server->requests().size(), 0);
    QVERIFY(d->lstSelectedEmployees->FindItem(u"101"_qs));
    QCOMPARE(platform::mousePointer(m_control.get()), int(platform::vbDefault));
}

void tst_Save::vendorSetAfterLoadDoesNotRetargetEdits()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {{u"33"_qs, u"000033D"_qs}});
    m_control->setVendorID(u"99"_qs);

    d->cmdCommit->setEnabled(true);
    d->cmdCommit->click();

    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].body,
             bodyOf({insertSql(u"12"_qs, u"101"_qs), deleteSql(u"12"_qs, u"33"_qs)}));
    // The reload shows the vendor set last.
    QCOMPARE(requests[1].target, QByteArray("/VendorEmployee.asp?VendorID=99"));
}

void tst_Save::waitSleepsAndStillRunsEvents()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("saved");
        m_page->postReply.delay = std::chrono::milliseconds(800);
    }
    // A host timer keeps running inside the wait, and so does the completion handler.
    int ticks = 0;
    QTimer host;
    host.setInterval(50);
    connect(&host, &QTimer::timeout, this, [&] { ++ticks; });
    host.start();

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = threadCpuMs();
    m_control->SaveToDatabase();
    const double cpuMs = threadCpuMs() - cpuBefore;
    const qint64 wallMs = wall.elapsed();

    QVERIFY(wallMs >= 700);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    QCOMPARE(m_boxes->boxes().size(), 1);
    QCOMPARE(m_boxes->boxes().first().text, u"saved"_qs);
    // A polling loop would burn the whole wait on this thread.
    QVERIFY2(cpuMs < wallMs * 0.25, qPrintable(u"%1 ms CPU in %2 ms"_qs.arg(cpuMs).arg(wallMs)));
}

void tst_Save::controlDestroyedDuringWait_data()
{
    QTest::addColumn<bool>("viaCommit");
    QTest::addColumn<bool>("whileReplyShown");
    QTest::newRow("SaveToDatabase, waiting") << false << false;
    QTest::newRow("commit, waiting") << true << false;
    QTest::newRow("commit, reply box open") << true << true;
}

void tst_Save::controlDestroyedDuringWait()
{
    QFETCH(bool, viaCommit);
    QFETCH(bool, whileReplyShown);

    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("saved");
        m_page->postReply.delay = std::chrono::milliseconds(whileReplyShown ? 0 : 400);
    }
    QPointer<VendorEmployee> watched(m_control.get());
    // The host's window goes away while the save waits (or while its answer is on screen).
    QTimer closer;
    if (whileReplyShown) {
        m_boxes.reset(); // leave the box open
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<QMessageBox *>(widget) && widget->isVisible() && m_control) {
                    m_control.reset(); // takes the box with it
                    break;
                }
            }
        });
        closer.start();
    } else {
        QTimer::singleShot(100, this, [this] { m_control.reset(); });
    }
    d->cmdCommit->setEnabled(true);

    VendorEmployee *control = m_control.get();
    if (viaCommit)
        d->cmdCommit->click();
    else
        control->SaveToDatabase();

    QVERIFY(!watched);
    QVERIFY(!m_control);
    QTest::qWait(50);
    // Nothing ran after the wait: no reload was asked for.
    for (const auto &request : m_server->requests())
        QCOMPARE(request.method, QByteArray("POST"));
}

void tst_Save::httpErrorStatusIsNotShownAsInformation()
{
    loadAndEdit(u"12"_qs, {{u"101"_qs, u"000101N"_qs}}, {});
    {
        std::lock_guard lock(m_page->mutex);
        m_page->postReply = textReply("Internal Server Error: nothing was applied", 500);
    }
    m_control->SaveToDatabase();

    QCOMPARE(m_boxes->boxes().size(), 1);
    QCOMPARE(m_boxes->boxes().first().text, u"Error During saving to Database"_qs);
    QVERIFY(m_boxes->boxes().first().icon != int(QMessageBox::Information));
}

QTEST_MAIN(tst_Save)
#include "tst_save.moc"
