// The control beside the least code that does the same work ("limit") and beside the dual list
// most Qt programs would hold ("qtreewidget": two sorted QTreeWidgets filled from QDomDocument,
// items moved with takeTopLevelItem / addTopLevelItem). Every benchmark is named
// "<operation>/<implementation>"; tools/bench puts them side by side.
//
// The employees come from vendoremp-server on loopback, seeded with KVE_BENCH_ROWS employees
// (default 32,767) in SQLite: vendor 2 is linked to every second one, so its lists hold 16,384
// and 16,383 rows. The commit and the server's own POST work on a second server, so that the
// reads never see a half-changed database.

#include "compare/Control.h"
#include "compare/Limit.h"
#include "compare/Peer.h"
#include "compare/Secure.h"

#include <QAction>

#include <QLineEdit>
#include <QRadioButton>
#include <QSet>

#include <chrono>

using namespace kvecompare;

namespace {

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
        const QByteArray body = commitBody(inserts, deletes);
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

// ---------------------------------------------------------------------------------------------
// 8. Ctrl+Z after a ">>" of 16,000 rows: the reverse move of exactly the rows it carried, found
// again among the target's rows. Set beside add_all/control, whose setup it shares; each timed
// undo is followed by an untimed redo.

QAction *historyAction(Control &c, QKeySequence::StandardKey key)
{
    const QKeySequence wanted = QKeySequence::keyBindings(key).value(0);
    for (QAction *action : c.control->actions()) {
        if (action->shortcuts().contains(wanted))
            return action;
    }
    throw std::logic_error("no action for the key");
}

void BM_UndoAddAll_Control(benchmark::State &state)
{
    Control c;
    c.load(readServer());
    const int moved = movedCount();
    Control::selectSpread(c.left, moved);
    c.click(c.cmdAddAll);
    QAction *const undo = historyAction(c, QKeySequence::Undo);
    QAction *const redo = historyAction(c, QKeySequence::Redo);
    for (auto _ : state) {
        undo->trigger();
        settle();
        state.PauseTiming();
        check(state, c.right->Count() == rowCount() / 2, "the undo left rows behind");
        redo->trigger();
        settle();
        check(state, c.right->Count() == rowCount() / 2 + moved, "the redo moved other rows");
        state.ResumeTiming();
    }
}

// ---------------------------------------------------------------------------------------------
// 9. The load from a server that speaks only TLS and asks for a login, to be set beside the plain
// load. Each load of the control opens a connection of its own, so the limit's does too.

// The server checks a password once and then remembers the login: a first, untimed load pays
// for that check, so that the timed loads are all alike.
void BM_LoadTlsLogin_Control(benchmark::State &state)
{
    Control c;
    c.control->setServerName(secureServer().url());
    settle();
    for (auto _ : state) {
        c.control->setServerName(secureServer().url());
        settle();
        check(state, c.left->Count() + c.right->Count() == rowCount(),
              qPrintable(c.control->lastError()));
    }
}

void BM_LoadTlsLogin_Limit(benchmark::State &state)
{
    Limit l;
    l.load(secureServer().documentUrl());
    for (auto _ : state)
        l.load(secureServer().documentUrl());
    check(state, int(l.left.model.rows.size() + l.right.model.rows.size()) == rowCount(),
          "load incomplete");
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
KVE_COMPARE(BM_UndoAddAll_Control, "undo_add_all/control");
KVE_COMPARE(BM_LoadTlsLogin_Control, "load_tls_login/control");
KVE_COMPARE(BM_LoadTlsLogin_Limit, "load_tls_login/limit");

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
        secureServer();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_compare: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
