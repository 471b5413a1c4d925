// The control beside the least code that does the same work ("limit") and beside the dual list
// most Qt programs would hold ("qtreewidget": two sorted QTreeWidgets filled from QDomDocument,
// items moved with takeTopLevelItem / addTopLevelItem). Every benchmark is named
// "<operation>/<implementation>"; tools/bench puts them side by side.
//
// The employees come from vendoremp-server on loopback, seeded with KVE_BENCH_ROWS employees
// (default 32,767) in SQLite: vendor 2 is linked to every second one, so its lists hold 16,384
// and 16,383 rows. The commit and the server's own POST work on a second server, so that the
// reads never see a half-changed database.

#include "ServerProcess.h"
#include "platform/ListView.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QDomDocument>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

using KavriVendorEmp::VendorEmployee;
using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;

namespace {

constexpr int vendor = 2;

int rowCount()
{
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue("KVE_BENCH_ROWS", &ok);
    return ok && rows > 1 ? rows : 32767;
}

// 16,000 of 32,767, scaled to the row count.
int movedCount()
{
    return std::max(1, int(qint64(rowCount()) * 16000 / 32767));
}

// Row i of n is marked when `count` marks spread evenly over n rows give it one.
bool spreadMark(int i, int n, int count)
{
    return qint64(i + 1) * count / n != qint64(i) * count / n;
}

void settle()
{
    QCoreApplication::processEvents();
}

class Server
{
public:
    Server()
    {
        const QString database = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("db"));
        if (!m_process.start({QStringLiteral("--database"), database, QStringLiteral("--seed"),
                              QString::number(rowCount())}))
            throw std::runtime_error("vendoremp-server did not start: " +
                                     m_process.log().toStdString());
    }
    QString url() const { return m_process.url(); }
    quint16 port() const { return m_process.port(); }
    QString pageUrl() const { return url() + QStringLiteral("/VendorEmployee.asp"); }
    QString documentUrl() const { return pageUrl() + QStringLiteral("?VendorID=%1").arg(vendor); }

private:
    QTemporaryDir m_dir;
    kvetest::ServerProcess m_process;
};

Server &readServer()
{
    static Server server;
    return server;
}

Server &writeServer()
{
    static Server server;
    return server;
}

// The commit's reply is shown in a message box; here it is read and closed at once.
class BoxCloser : public QObject
{
public:
    QString lastText;
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(object)) {
                lastText = box->text();
                QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
            }
        }
        return false;
    }
};

BoxCloser &boxCloser()
{
    static BoxCloser *closer = [] {
        auto *c = new BoxCloser;
        qApp->installEventFilter(c);
        return c;
    }();
    return *closer;
}

// The same HTTP client the control uses, driven the plainest way.
QByteArray httpCall(const QString &url, const QByteArray *postBody = nullptr)
{
    static QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    QNetworkReply *reply;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = manager.post(request, *postBody);
    } else {
        reply = manager.get(request);
    }
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    const QByteArray body = reply->readAll();
    const bool ok = reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    if (!ok)
        throw std::runtime_error("HTTP request failed: " + url.toStdString());
    return body;
}

QString changeCode(const QString &id)
{
    return id.rightJustified(6, u'0');
}

QByteArray insertStatement(const QString &id)
{
    return "INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) "
           "VALUES (" +
           QByteArray::number(vendor) + ',' + id.toLatin1() + ",GETDATE()) ";
}

QByteArray deleteStatement(const QStringList &ids)
{
    return "DELETE FROM VendorEmployeeCrossReference WHERE VendorID=" + QByteArray::number(vendor) +
           " AND EmployeeID IN(" + ids.join(u',').toLatin1() + ')';
}

// The commit's body for these inserts and one delete, form encoded.
QByteArray commitBody(const QStringList &inserts, const QStringList &deletes)
{
    QByteArray body;
    for (const QString &id : inserts)
        body += "SQL=" + insertStatement(id).toPercentEncoding() + '&';
    if (!deletes.isEmpty())
        body += "SQL=" + deleteStatement(deletes).toPercentEncoding() + '&';
    return body;
}

// ---------------------------------------------------------------------------------------------
// The control.

struct Control
{
    std::unique_ptr<VendorEmployee> control = std::make_unique<VendorEmployee>();
    ListView *left = control->findChild<ListView *>(QStringLiteral("lstEmployees"));
    ListView *right = control->findChild<ListView *>(QStringLiteral("lstSelectedEmployees"));
    QPushButton *cmdAddAll = control->findChild<QPushButton *>(QStringLiteral("cmdAddAll"));
    QPushButton *cmdRemoveAll = control->findChild<QPushButton *>(QStringLiteral("cmdRemoveAll"));
    QPushButton *cmdCommit = control->findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    QPushButton *cmdFind = control->findChild<QPushButton *>(QStringLiteral("cmdFind"));

    Control()
    {
        control->resize(control->sizeHint());
        control->show();
        control->setVendorID(QString::number(vendor));
        boxCloser();
    }
    void load(const Server &server)
    {
        control->setServerName(server.url());
        settle();
    }
    // Marks the rows `pick` says yes to, and clicks the list, as a user's selection would end.
    template <typename Pick> static void select(ListView *list, Pick pick)
    {
        {
            const ListView::BulkUpdate bulk(list);
            list->setMultiSelect(true);
            const int n = list->Count();
            for (int i = 1; i <= n; ++i) {
                ListItem item = list->Item(i);
                item.setSelected(pick(i - 1, item));
            }
        }
        Q_EMIT list->Click();
        settle();
    }
    static void selectSpread(ListView *list, int count)
    {
        const int n = list->Count();
        select(list, [&](int i, const ListItem &) { return spreadMark(i, n, count); });
    }
    void click(QPushButton *button)
    {
        if (!button->isEnabled())
            throw std::logic_error("button not enabled: " + button->objectName().toStdString());
        button->click();
        settle();
    }
};

// ---------------------------------------------------------------------------------------------
// The limit: rows in a vector, one model reset per change, a QTreeView with uniform row heights
// whose selection model holds the selected rows.

struct Row
{
    QString id;
    QString name;
    QString code;
    bool selected = false;
};

bool byCode(const Row &a, const Row &b)
{
    return a.code < b.code;
}

class RowModel : public QAbstractTableModel
{
public:
    std::vector<Row> rows;

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 3;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const Row &row = rows[std::size_t(index.row())];
        if (role != Qt::DisplayRole)
            return {};
        return index.column() == 0 ? row.id : index.column() == 1 ? row.name : row.code;
    }
    template <typename Change> void change(Change &&change)
    {
        beginResetModel();
        change(rows);
        endResetModel();
    }
};

struct LimitList
{
    RowModel model;
    QTreeView view;
    LimitList()
    {
        view.setUniformRowHeights(true);
        view.setRootIsDecorated(false);
        view.setModel(&model);
        view.resize(265, 185);
        view.show();
    }
    // The marked rows become the view's selection, as runs of adjacent rows: what the keyboard,
    // a drag and accessibility read. The reset that came with the change has cleared it.
    void showSelection()
    {
        QItemSelection selection;
        const auto &r = model.rows;
        for (std::size_t i = 0; i < r.size();) {
            if (!r[i].selected) {
                ++i;
                continue;
            }
            const std::size_t first = i;
            while (i < r.size() && r[i].selected)
                ++i;
            selection.append(
                QItemSelectionRange(model.index(int(first), 0), model.index(int(i - 1), 2)));
        }
        view.selectionModel()->select(selection, QItemSelectionModel::Select);
    }
};

struct Limit
{
    LimitList left;
    LimitList right;

    void load(const QString &url)
    {
        const QByteArray body = httpCall(url);
        pugi::xml_document doc;
        if (!doc.load_buffer(body.constData(), std::size_t(body.size())))
            throw std::runtime_error("not a document");
        const pugi::xml_node root = doc.child("VendorEmployees");
        for (LimitList *list : {&left, &right}) {
            std::vector<Row> rows;
            for (const pugi::xml_node e :
                 root.child(list == &left ? "NonSelectedEmployees" : "SelectedEmployees")
                     .children("Employee")) {
                const QString id = QString::fromUtf8(e.child("ID").text().get());
                rows.push_back(
                    {id, QString::fromUtf8(e.child("Name").text().get()), changeCode(id)});
            }
            std::stable_sort(rows.begin(), rows.end(), byCode);
            list->model.change([&](std::vector<Row> &r) { r = std::move(rows); });
        }
        settle();
    }
    // ">>" / "<<": the marked rows leave `from` and join `to`, still marked, in sorted order.
    static void move(LimitList &from, LimitList &to)
    {
        from.model.change([&](std::vector<Row> &source) {
            to.model.change([&](std::vector<Row> &target) {
                const auto moved = std::stable_partition(source.begin(), source.end(),
                                                         [](const Row &r) { return !r.selected; });
                for (Row &row : target)
                    row.selected = false;
                const auto middle = std::ptrdiff_t(target.size());
                target.insert(target.end(), std::make_move_iterator(moved),
                              std::make_move_iterator(source.end()));
                source.erase(moved, source.end());
                std::inplace_merge(target.begin(), target.begin() + middle, target.end(), byCode);
            });
        });
        to.showSelection();
        settle();
    }
    template <typename Pick> static void select(LimitList &list, Pick pick)
    {
        list.model.change([&](std::vector<Row> &rows) {
            for (std::size_t i = 0; i < rows.size(); ++i)
                rows[i].selected = pick(int(i), rows[i]);
        });
        list.showSelection();
        settle();
    }
    static void selectSpread(LimitList &list, int count)
    {
        const int n = int(list.model.rows.size());
        select(list, [&](int i, const Row &) { return spreadMark(i, n, count); });
    }
};

// ---------------------------------------------------------------------------------------------
// The QTreeWidget peer.

struct PeerList
{
    QTreeWidget tree;
    PeerList()
    {
        tree.setColumnCount(3);
        tree.setHeaderLabels(
            {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Code")});
        tree.setRootIsDecorated(false);
        tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
        tree.setSortingEnabled(true);
        tree.sortByColumn(2, Qt::AscendingOrder);
        tree.resize(265, 185);
        tree.show();
    }
};

struct Peer
{
    PeerList left;
    PeerList right;

    void load(const QString &url)
    {
        QDomDocument doc;
        if (!doc.setContent(httpCall(url)))
            throw std::runtime_error("not a document");
        const QDomElement root = doc.documentElement();
        for (PeerList *list : {&left, &right}) {
            list->tree.clear();
            QList<QTreeWidgetItem *> items;
            const QDomElement section =
                root.firstChildElement(list == &left ? QStringLiteral("NonSelectedEmployees")
                                                     : QStringLiteral("SelectedEmployees"));
            for (QDomElement e = section.firstChildElement(QStringLiteral("Employee")); !e.isNull();
                 e = e.nextSiblingElement(QStringLiteral("Employee"))) {
                const QString id = e.firstChildElement(QStringLiteral("ID")).text();
                items.append(new QTreeWidgetItem(
                    {id, e.firstChildElement(QStringLiteral("Name")).text(), changeCode(id)}));
            }
            list->tree.addTopLevelItems(items);
        }
        settle();
    }
    // The careful version: the source's selection cleared first (each removal otherwise revisits
    // every selected range's persistent indexes), items taken from the last position up, added
    // in one call with sorting off and sorted once. Moving item by item into a list that stays
    // sorted re-sorts it on every item: 30 s for 1,500 items, quadratic, hours at 16,000.
    static void move(PeerList &from, PeerList &to)
    {
        const QList<QTreeWidgetItem *> picked = from.tree.selectedItems();
        std::vector<int> positions;
        positions.reserve(std::size_t(picked.size()));
        for (QTreeWidgetItem *item : picked)
            positions.push_back(from.tree.indexOfTopLevelItem(item));
        std::sort(positions.begin(), positions.end(), std::greater<>());
        from.tree.clearSelection();
        QList<QTreeWidgetItem *> taken;
        taken.reserve(picked.size());
        for (int position : positions)
            taken.append(from.tree.takeTopLevelItem(position));
        to.tree.clearSelection();
        to.tree.setSortingEnabled(false);
        to.tree.addTopLevelItems(taken);
        for (QTreeWidgetItem *item : taken)
            item->setSelected(true);
        to.tree.setSortingEnabled(true);
        settle();
    }
    template <typename Pick> static void select(PeerList &list, Pick pick)
    {
        QItemSelection selection;
        QAbstractItemModel *model = list.tree.model();
        const int n = list.tree.topLevelItemCount();
        for (int i = 0; i < n; ++i) {
            if (pick(i, list.tree.topLevelItem(i)))
                selection.select(model->index(i, 0), model->index(i, 2));
        }
        list.tree.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        settle();
    }
    static void selectSpread(PeerList &list, int count)
    {
        const int n = list.tree.topLevelItemCount();
        select(list, [&](int i, QTreeWidgetItem *) { return spreadMark(i, n, count); });
    }
};

void check(benchmark::State &state, bool ok, const char *what)
{
    if (!ok)
        state.SkipWithError(what);
}

// ---------------------------------------------------------------------------------------------
// 1. Load.

void BM_Load_Control(benchmark::State &state)
{
    Control c;
    for (auto _ : state) {
        c.load(readServer());
        check(state, c.left->Count() + c.right->Count() == rowCount(), "load incomplete");
    }
}

void BM_Load_Limit(benchmark::State &state)
{
    Limit l;
    for (auto _ : state)
        l.load(readServer().documentUrl());
    check(state, int(l.left.model.rows.size() + l.right.model.rows.size()) == rowCount(),
          "load incomplete");
}

void BM_Load_Peer(benchmark::State &state)
{
    Peer p;
    for (auto _ : state)
        p.load(readServer().documentUrl());
    check(state, p.left.tree.topLevelItemCount() + p.right.tree.topLevelItemCount() == rowCount(),
          "load incomplete");
}

// ---------------------------------------------------------------------------------------------
// 2. ">>" of 16,000 selected rows, and "<<" back. The moved rows stay selected, so each timed move
// is undone by the untimed opposite move.

template <bool Back> void BM_Move_Control(benchmark::State &state)
{
    Control c;
    c.load(readServer());
    const int moved = movedCount();
    Control::selectSpread(c.left, moved);
    if (Back)
        c.click(c.cmdAddAll);
    for (auto _ : state) {
        c.click(Back ? c.cmdRemoveAll : c.cmdAddAll);
        state.PauseTiming();
        check(state, c.right->Count() == rowCount() / 2 + (Back ? 0 : moved), "wrong rows moved");
        c.click(Back ? c.cmdAddAll : c.cmdRemoveAll);
        state.ResumeTiming();
    }
    check(state, c.right->Count() == rowCount() / 2 + (Back ? moved : 0), "wrong rows moved");
}

template <bool Back> void BM_Move_Limit(benchmark::State &state)
{
    Limit l;
    l.load(readServer().documentUrl());
    const int moved = movedCount();
    Limit::selectSpread(l.left, moved);
    if (Back)
        Limit::move(l.left, l.right);
    for (auto _ : state) {
        if (Back)
            Limit::move(l.right, l.left);
        else
            Limit::move(l.left, l.right);
        state.PauseTiming();
        if (Back)
            Limit::move(l.left, l.right);
        else
            Limit::move(l.right, l.left);
        state.ResumeTiming();
    }
    check(state, int(l.right.model.rows.size()) == rowCount() / 2 + (Back ? moved : 0),
          "wrong rows moved");
}

// The peer takes a minute or more per move at this size, so one run times both: ">>" as the
// iteration's time, "<<" as the counter remove_all_ms.
void BM_Move_Peer(benchmark::State &state)
{
    Peer p;
    p.load(readServer().documentUrl());
    const int moved = movedCount();
    Peer::selectSpread(p.left, moved);
    using Clock = std::chrono::steady_clock;
    double back = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        Peer::move(p.left, p.right);
        const Clock::time_point middle = Clock::now();
        check(state, p.right.tree.topLevelItemCount() == rowCount() / 2 + moved,
              "wrong rows moved");
        Peer::move(p.right, p.left);
        back += std::chrono::duration<double, std::milli>(Clock::now() - middle).count();
        state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
    }
    check(state, p.right.tree.topLevelItemCount() == rowCount() / 2, "rows not moved back");
    state.counters["remove_all_ms"] = benchmark::Counter(back, benchmark::Counter::kAvgIterations);
}

// ---------------------------------------------------------------------------------------------
// 3. A click in the list holding 16,000 selected rows: what it takes to know which buttons apply.

void BM_Click_Control(benchmark::State &state)
{
    Control c;
    c.load(readServer());
    Control::selectSpread(c.left, movedCount());
    for (auto _ : state) {
        Q_EMIT c.left->Click();
        settle();
    }
    check(state, c.cmdAddAll->isEnabled(), "the click did not enable \">>\"");
}

void BM_Click_Limit(benchmark::State &state)
{
    Limit l;
    l.load(readServer().documentUrl());
    Limit::selectSpread(l.left, movedCount());
    QPushButton addAll;
    for (auto _ : state) {
        const auto &rows = l.left.model.rows;
        addAll.setEnabled(
            std::any_of(rows.begin(), rows.end(), [](const Row &r) { return r.selected; }));
        settle();
    }
    check(state, addAll.isEnabled(), "no selection seen");
}

void BM_Click_Peer(benchmark::State &state)
{
    Peer p;
    p.load(readServer().documentUrl());
    Peer::selectSpread(p.left, movedCount());
    QPushButton addAll;
    for (auto _ : state) {
        addAll.setEnabled(!p.left.tree.selectedItems().isEmpty());
        settle();
    }
    check(state, addAll.isEnabled(), "no selection seen");
}

// ---------------------------------------------------------------------------------------------
// 4. Find by name, the text being the name on the last row of the left list.

void BM_Find_Control(benchmark::State &state)
{
    Control c;
    c.load(readServer());
    const QString name = c.left->Item(c.left->Count()).SubItems(1);
    c.control->findChild<QRadioButton *>(QStringLiteral("optList(0)"))->setChecked(true);
    c.control->findChild<QRadioButton *>(QStringLiteral("optFind(0)"))->setChecked(true);
    c.control->findChild<QLineEdit *>(QStringLiteral("txtVendorName"))->setText(name);
    for (auto _ : state)
        c.click(c.cmdFind);
    state.counters["found_at"] = c.left->indexOf(c.left->SelectedItem());
    state.counters["rows"] = c.left->Count();
}

void BM_Find_Limit(benchmark::State &state)
{
    Limit l;
    l.load(readServer().documentUrl());
    const auto &rows = l.left.model.rows;
    const QString name = rows.back().name;
    int found = -1;
    for (auto _ : state) {
        const auto at = std::find_if(rows.begin(), rows.end(), [&](const Row &r) {
            return r.name.contains(name, Qt::CaseInsensitive);
        });
        found = int(at - rows.begin());
        const QModelIndex index = l.left.model.index(found, 0);
        l.left.view.setCurrentIndex(index);
        l.left.view.scrollTo(index);
        settle();
    }
    state.counters["found_at"] = found + 1;
}

void BM_Find_Peer(benchmark::State &state)
{
    Peer p;
    p.load(readServer().documentUrl());
    QTreeWidget &tree = p.left.tree;
    const QString name = tree.topLevelItem(tree.topLevelItemCount() - 1)->text(1);
    int found = -1;
    for (auto _ : state) {
        QTreeWidgetItem *item = tree.findItems(name, Qt::MatchContains, 1).value(0);
        tree.setCurrentItem(item);
        tree.scrollToItem(item);
        found = tree.indexOfTopLevelItem(item);
        settle();
    }
    state.counters["found_at"] = found + 1;
}

// ---------------------------------------------------------------------------------------------
// 5. A header click re-sorting all rows by name, the rows first gathered into one list. Each timed
// sort by name is undone by an untimed sort by the change code.

void BM_SortByName_Control(benchmark::State &state)
{
    Control c;
    c.load(readServer());
    Control::select(c.right, [](int, const ListItem &) { return true; });
    c.click(c.cmdRemoveAll);
    check(state, c.left->Count() == rowCount(), "rows not gathered");
    // Sorted unselected, as the limit's and the peer's rows are.
    Control::select(c.left, [](int, const ListItem &) { return false; });
    for (auto _ : state) {
        Q_EMIT c.left->ColumnClick(2);
        settle();
        state.PauseTiming();
        Q_EMIT c.left->ColumnClick(1);
        settle();
        state.ResumeTiming();
    }
}

void BM_SortByName_Limit(benchmark::State &state)
{
    Limit l;
    l.load(readServer().documentUrl());
    Limit::select(l.right, [](int, const Row &) { return true; });
    Limit::move(l.right, l.left);
    const auto byName = [](const Row &a, const Row &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    };
    for (auto _ : state) {
        l.left.model.change(
            [&](std::vector<Row> &rows) { std::stable_sort(rows.begin(), rows.end(), byName); });
        settle();
        state.PauseTiming();
        l.left.model.change(
            [&](std::vector<Row> &rows) { std::stable_sort(rows.begin(), rows.end(), byCode); });
        settle();
        state.ResumeTiming();
    }
    check(state, int(l.left.model.rows.size()) == rowCount(), "rows not gathered");
}

void BM_SortByName_Peer(benchmark::State &state)
{
    Peer p;
    p.load(readServer().documentUrl());
    Peer::select(p.right, [](int, QTreeWidgetItem *) { return true; });
    Peer::move(p.right, p.left);
    p.left.tree.clearSelection();
    for (auto _ : state) {
        p.left.tree.sortByColumn(1, Qt::AscendingOrder);
        settle();
        state.PauseTiming();
        p.left.tree.sortByColumn(2, Qt::AscendingOrder);
        settle();
        state.ResumeTiming();
    }
    check(state, p.left.tree.topLevelItemCount() == rowCount(), "rows not gathered");
}

// ---------------------------------------------------------------------------------------------
// 6. Commit of 16,000 inserts and one delete of 16,000 IDs: the body, the post, the server's
// transaction in SQLite, and the reload. The moves that make the changes are not timed. The
// employees involved are the first 16,000 of each list at the start; each commit swaps them
// between the lists, so every iteration does the same amount of work.

struct CommitSet
{
    QSet<QString> ids;
    explicit CommitSet(const QStringList &left, const QStringList &right)
    {
        const int n = movedCount();
        for (int i = 0; i < n && i < left.size(); ++i)
            ids.insert(left[i]);
        for (int i = 0; i < n && i < right.size(); ++i)
            ids.insert(right[i]);
    }
    // The IDs of the set held by a list, in its order.
    template <typename Ids> QStringList in(const Ids &listIds) const
    {
        QStringList out;
        for (const QString &id : listIds) {
            if (ids.contains(id))
                out.append(id);
        }
        return out;
    }
};

QStringList idsOf(ListView *list)
{
    QStringList ids;
    for (int i = 1; i <= list->Count(); ++i)
        ids.append(list->Item(i).Text());
    return ids;
}

QStringList idsOf(const LimitList &list)
{
    QStringList ids;
    for (const Row &row : list.model.rows)
        ids.append(row.id);
    return ids;
}

QStringList idsOf(const PeerList &list)
{
    QStringList ids;
    for (int i = 0; i < list.tree.topLevelItemCount(); ++i)
        ids.append(list.tree.topLevelItem(i)->text(0));
    return ids;
}

void BM_Commit_Control(benchmark::State &state)
{
    Control c;
    c.load(writeServer());
    const CommitSet set(idsOf(c.left), idsOf(c.right));
    for (auto _ : state) {
        state.PauseTiming();
        const QStringList inserts = set.in(idsOf(c.left));
        const QStringList deletes = set.in(idsOf(c.right));
        const QSet<QString> toRight(inserts.begin(), inserts.end());
        const QSet<QString> toLeft(deletes.begin(), deletes.end());
        Control::select(c.left, [&](int, const ListItem &r) { return toRight.contains(r.Text()); });
        c.click(c.cmdAddAll);
        Control::select(c.right, [&](int, const ListItem &r) { return toLeft.contains(r.Text()); });
        c.click(c.cmdRemoveAll);
        boxCloser().lastText.clear();
        state.ResumeTiming();
        c.click(c.cmdCommit);
        state.PauseTiming();
        check(state,
              !boxCloser().lastText.startsWith(QStringLiteral("Refused")) &&
                  !boxCloser().lastText.isEmpty(),
              qPrintable(boxCloser().lastText));
        check(state, set.in(idsOf(c.right)) == inserts, "commit not applied");
        state.ResumeTiming();
    }
}

void BM_Commit_Limit(benchmark::State &state)
{
    Limit l;
    l.load(writeServer().documentUrl());
    const CommitSet set(idsOf(l.left), idsOf(l.right));
    for (auto _ : state) {
        state.PauseTiming();
        const QStringList inserts = set.in(idsOf(l.left));
        const QStringList deletes = set.in(idsOf(l.right));
        state.ResumeTiming();
        const QByteArray body = commitBody(inserts, deletes);
        httpCall(writeServer().pageUrl(), &body);
        l.load(writeServer().documentUrl());
        state.PauseTiming();
        check(state, set.in(idsOf(l.right)) == inserts, "commit not applied");
        state.ResumeTiming();
    }
}

void BM_Commit_Peer(benchmark::State &state)
{
    Peer p;
    p.load(writeServer().documentUrl());
    const CommitSet set(idsOf(p.left), idsOf(p.right));
    for (auto _ : state) {
        state.PauseTiming();
        const QStringList inserts = set.in(idsOf(p.left));
        const QStringList deletes = set.in(idsOf(p.right));
        state.ResumeTiming();
        QByteArray body;
        for (const QString &id : inserts) {
            const QString statement =
                QStringLiteral("INSERT INTO VendorEmployeeCrossReference "
                               "(VendorID,EmployeeID,RecordLastUpdated) VALUES (%1,%2,GETDATE()) ")
                    .arg(vendor)
                    .arg(id);
            body += "SQL=" + QUrl::toPercentEncoding(statement) + '&';
        }
        const QString statement =
            QStringLiteral("DELETE FROM VendorEmployeeCrossReference WHERE VendorID=%1 AND "
                           "EmployeeID IN(%2)")
                .arg(vendor)
                .arg(deletes.join(u','));
        body += "SQL=" + QUrl::toPercentEncoding(statement) + '&';
        httpCall(writeServer().pageUrl(), &body);
        p.load(writeServer().documentUrl());
        state.PauseTiming();
        check(state, set.in(idsOf(p.right)) == inserts, "commit not applied");
        state.ResumeTiming();
    }
}

// ---------------------------------------------------------------------------------------------
// 7. The server alone, over blocking sockets: the GET of vendor 2's document, and a POST linking
// vendor 1 to every employee (its links removed first, untimed).

void BM_ServerGet(benchmark::State &state)
{
    const QByteArray target = QByteArrayLiteral("/VendorEmployee.asp?VendorID=2");
    qint64 bytes = 0;
    for (auto _ : state) {
        const kvetest::HttpReply reply = kvetest::httpRequest(readServer().port(), "GET", target);
        check(state, reply.status == 200, "GET failed");
        bytes = reply.body.size();
    }
    state.counters["bytes"] = double(bytes);
}

void BM_ServerPost(benchmark::State &state)
{
    QList<QByteArray> inserts;
    QList<qint64> all;
    for (int id = 1; id <= rowCount(); ++id) {
        inserts.append(kvetest::insertStatement(1, id));
        all.append(id);
    }
    const QByteArray insertBody = kvetest::saveBody(inserts);
    const QByteArray deleteBody = kvetest::saveBody({kvetest::deleteStatement(1, all)});
    for (auto _ : state) {
        state.PauseTiming();
        const kvetest::HttpReply cleared = kvetest::postForm(writeServer().port(), deleteBody);
        check(state, cleared.status == 200, cleared.body.constData());
        state.ResumeTiming();
        const kvetest::HttpReply reply = kvetest::postForm(writeServer().port(), insertBody);
        check(state, reply.status == 200, reply.body.constData());
    }
    state.counters["statements"] = double(inserts.size());
}

// ---------------------------------------------------------------------------------------------
// ">>" of 2,000 of 4,000 rows, for comparison with the KActionSelector peer doing the same.

void BM_Move2000Of4000_Control(benchmark::State &state)
{
    const int rows = std::min(4000, rowCount());
    Control c;
    {
        const ListView::BulkUpdate bulk(c.left);
        for (int i = 1; i <= rows; ++i) {
            ListItem item = c.left->Add(QString::number(i));
            item.setSubItems(1, QStringLiteral("Employee %1").arg(i));
            item.setSubItems(2, changeCode(item.Text()));
        }
        c.left->setSortKey(2);
        c.right->setSortKey(2);
    }
    Control::selectSpread(c.left, rows / 2);
    for (auto _ : state) {
        c.click(c.cmdAddAll);
        state.PauseTiming();
        check(state, c.right->Count() == rows / 2, "wrong rows moved");
        c.click(c.cmdRemoveAll);
        state.ResumeTiming();
    }
}

#define KVE_COMPARE(function, name)                                                                \
    BENCHMARK(function)->Name(name)->Unit(benchmark::kMillisecond)->UseRealTime()

KVE_COMPARE(BM_Load_Control, "load/control");
KVE_COMPARE(BM_Load_Limit, "load/limit");
KVE_COMPARE(BM_Load_Peer, "load/qtreewidget");
KVE_COMPARE(BM_Move_Control<false>, "add_all/control");
KVE_COMPARE(BM_Move_Limit<false>, "add_all/limit");
KVE_COMPARE(BM_Move_Control<true>, "remove_all/control");
KVE_COMPARE(BM_Move_Limit<true>, "remove_all/limit");
BENCHMARK(BM_Move_Peer)
    ->Name("add_all_remove_all/qtreewidget")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
KVE_COMPARE(BM_Click_Control, "click/control");
KVE_COMPARE(BM_Click_Limit, "click/limit");
KVE_COMPARE(BM_Click_Peer, "click/qtreewidget");
KVE_COMPARE(BM_Find_Control, "find_by_name/control");
KVE_COMPARE(BM_Find_Limit, "find_by_name/limit");
KVE_COMPARE(BM_Find_Peer, "find_by_name/qtreewidget");
KVE_COMPARE(BM_SortByName_Control, "sort_by_name/control");
KVE_COMPARE(BM_SortByName_Limit, "sort_by_name/limit");
KVE_COMPARE(BM_SortByName_Peer, "sort_by_name/qtreewidget");
KVE_COMPARE(BM_Commit_Control, "commit/control");
KVE_COMPARE(BM_Commit_Limit, "commit/limit");
KVE_COMPARE(BM_Commit_Peer, "commit/qtreewidget");
KVE_COMPARE(BM_ServerGet, "server_get/server");
KVE_COMPARE(BM_ServerPost, "server_post/server");
KVE_COMPARE(BM_Move2000Of4000_Control, "move_2000_of_4000/control");

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        readServer(); // started and seeded before any timing
        writeServer();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_compare: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
