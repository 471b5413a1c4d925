#include "platform/ListView.h"
#include "platform/RowLook.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTreeView>
#include <QtTest>

#include <optional>
#include <stdexcept>

using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;
using KavriVendorEmp::platform::mutedHighlight;
using KavriVendorEmp::platform::mutedHighlightedText;

namespace {

// Rows are given as "text:name:code".
ListItem addRow(ListView &list, const QString &spec)
{
    const QStringList parts = spec.split(QLatin1Char(':'));
    ListItem item = list.Add(parts.value(0));
    if (parts.size() > 1)
        item.setSubItems(1, parts.value(1));
    if (parts.size() > 2)
        item.setSubItems(2, parts.value(2));
    return item;
}

// The column policy the control gives its lists.
void employeeColumns(ListView &list)
{
    list.hideColumnForGood(2);
    list.setSortIndicatorSection(2, 0);
}

QStringList texts(ListView &list)
{
    QStringList out;
    for (int i = 1; i <= list.Count(); ++i)
        out << list.Item(i).Text();
    return out;
}

// Everything a view or a test can read synchronously agrees with the rows.
void verifyConsistent(ListView &list)
{
    QAbstractItemModel *model = list.model();
    QItemSelectionModel *selection = list.selectionModel();
    QCOMPARE(model->rowCount(), list.Count());
    QCOMPARE(model->columnCount(), 3);
    for (int r = 0; r < list.Count(); ++r) {
        const ListItem item = list.Item(r + 1);
        QCOMPARE(model->index(r, 0).data().toString(), item.Text());
        QCOMPARE(model->index(r, 1).data().toString(), item.SubItems(1));
        QCOMPARE(model->index(r, 2).data().toString(), item.SubItems(2));
        QCOMPARE(selection->isRowSelected(r, {}), item.Selected());
    }
    const ListItem current = list.SelectedItem();
    QCOMPARE(current.isNull(), list.Count() == 0);
    QCOMPARE(selection->currentIndex().row(), current ? list.indexOf(current) - 1 : -1);
}

QPoint rowCenter(ListView &list, int position)
{
    return list.visualRect(list.model()->index(position - 1, 0)).center();
}

} // namespace

class tst_ListView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sorting_data();
    void sorting();
    void rekeyAndReverse();
    void keyTextChangeMovesRow_data();
    void keyTextChangeMovesRow();
    void codeLetterKeepsOtherColumnsKey();
    void multiSelect();
    void selectedItem();
    void findItem_data();
    void findItem();
    void handles();
    void bulkUpdate();
    void removeSelectedFromLastDown_data();
    void removeSelectedFromLastDown();
    void randomOperationsMatchReference_data();
    void randomOperationsMatchReference();
    void foldsMatchQt();
    void takeRowsMatchesCopyAndRemove_data();
    void takeRowsMatchesCopyAndRemove();
    void columnHeaders();
    void clickAfterSelectionChanged();
    void clickBelowRows();
    void doubleClick();
    void mouseUp_data();
    void mouseUp();
    void columnClick();
    void userSelectionUpdatesMarks();
    void paintsAsTreeView_data();
    void paintsAsTreeView();
};

void tst_ListView::sorting_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("expected");

    const QStringList digits{QStringLiteral("7"), QStringLiteral("100"), QStringLiteral("12")};
    QTest::newRow("digits by text order")
        << 0 << 0 << false << digits << QStringList{"100", "12", "7"};
    QTest::newRow("digits descending")
        << 0 << 1 << false << digits << QStringList{"7", "12", "100"};
    QTest::newRow("digits in bulk") << 0 << 0 << true << digits << QStringList{"100", "12", "7"};
    QTest::newRow("codes order numerically")
        << 2 << 0 << false << QStringList{"100:c:000100", "7:a:000007N", "12:b:000012"}
        << QStringList{"7", "12", "100"};
    QTest::newRow("case folded, upper case first on a tie")
        << 0 << 0 << false << QStringList{"b", "a", "B", "A"} << QStringList{"A", "a", "B", "b"};
    QTest::newRow("case decides a tie, position by position")
        << 0 << 0 << false << QStringList{"ab", "aB", "Ab", "AB", "ab"}
        << QStringList{"AB", "Ab", "aB", "ab", "ab"};
    QTest::newRow("case folded descending")
        << 0 << 1 << true << QStringList{"b", "a", "B", "A"} << QStringList{"b", "B", "a", "A"};
    QTest::newRow("names") << 1 << 0 << false
                           << QStringList{"1:smith", "2:Brown", "3:adams", "4:Smith"}
                           << QStringList{"3", "2", "4", "1"};
    QTest::newRow("ties in insertion order")
        << 2 << 0 << false << QStringList{"3:x:000001", "1:x:000001", "2:x:000001", "0:x:000000"}
        << QStringList{"0", "3", "1", "2"};
    QTest::newRow("ties in insertion order, descending")
        << 2 << 1 << false << QStringList{"3:x:000001", "1:x:000001", "2:x:000001", "0:x:000000"}
        << QStringList{"3", "1", "2", "0"};
    QTest::newRow("ties in bulk, descending")
        << 1 << 1 << true << QStringList{"3:x", "1:x", "2:x", "0:y"}
        << QStringList{"0", "3", "1", "2"};
}

void tst_ListView::sorting()
{
    QFETCH(int, key);
    QFETCH(int, order);
    QFETCH(bool, bulk);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, expected);

    ListView list;
    list.setSortKey(key);
    list.setSortOrder(order);
    {
        std::optional<ListView::BulkUpdate> update;
        if (bulk)
            update.emplace(&list);
        for (const QString &row : rows)
            addRow(list, row);
    }
    QCOMPARE(texts(list), expected);
    verifyConsistent(list);
}

void tst_ListView::rekeyAndReverse()
{
    ListView list;
    employeeColumns(list);
    list.setSortKey(2);
    for (const char *row : {"12:carol:000012", "7:alice:000007", "100:bob:000100"})
        addRow(list, QLatin1String(row));
    list.Item(2).setSelected(true); // 12
    QCOMPARE(texts(list), (QStringList{"7", "12", "100"}));

    list.setSortKey(1);
    QCOMPARE(texts(list), (QStringList{"7", "100", "12"}));
    QCOMPARE(list.header()->sortIndicatorSection(), 1);
    verifyConsistent(list);

    list.setSortOrder(1);
    QCOMPARE(texts(list), (QStringList{"12", "100", "7"}));
    QCOMPARE(list.header()->sortIndicatorOrder(), Qt::DescendingOrder);
    verifyConsistent(list);

    list.setSortKey(2);
    QCOMPARE(texts(list), (QStringList{"100", "12", "7"}));
    QCOMPARE(list.header()->sortIndicatorSection(), 0);
    QVERIFY(list.Item(2).Selected());
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("12"));
    verifyConsistent(list);

    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.setSortKey(3));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.setSortOrder(2));
    QCOMPARE(list.SortKey(), 2);
    QCOMPARE(list.SortOrder(), 1);
}

void tst_ListView::keyTextChangeMovesRow_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::newRow("single change") << false;
    QTest::newRow("in bulk") << true;
}

void tst_ListView::keyTextChangeMovesRow()
{
    QFETCH(bool, bulk);
    ListView list;
    list.setSortKey(2);
    for (int id = 1; id <= 5; ++id)
        addRow(list, QStringLiteral("%1:n:%2").arg(id).arg(id, 6, 10, QLatin1Char('0')));
    ListItem moved = list.Item(2);
    moved.setSelected(true);
    {
        std::optional<ListView::BulkUpdate> update;
        if (bulk)
            update.emplace(&list);
        moved.setSubItems(2, QStringLiteral("000009"));  // down to the end
        moved.setSubItems(1, QStringLiteral("renamed")); // not the key: stays put
    }
    QCOMPARE(texts(list), (QStringList{"1", "3", "4", "5", "2"}));
    QVERIFY(list.Item(5) == moved);
    verifyConsistent(list);

    list.Item(4).setSubItems(2, QStringLiteral("000000")); // 5 up to the front
    QCOMPARE(texts(list), (QStringList{"5", "1", "3", "4", "2"}));
    verifyConsistent(list);

    list.setSortKey(0);
    moved.setText(QStringLiteral("0"));
    QCOMPARE(texts(list), (QStringList{"0", "1", "3", "4", "5"}));
    QCOMPARE(list.SelectedItem(), moved);
    verifyConsistent(list);
}

void tst_ListView::codeLetterKeepsOtherColumnsKey()
{
    // A code gains its letter while the rows still hold another column's key (the sort column
    // changed within the same bulk update, and back): that key must not take the letter.
    ListView list;
    addRow(list, QStringLiteral("1:a:000001"));
    addRow(list, QStringLiteral("1:b:000001"));
    ListItem first = list.Item(1);
    {
        const ListView::BulkUpdate update(&list);
        list.setSortKey(2);
        first.appendToSubItem(2, QLatin1Char('N'));
        list.setSortKey(0);
    }
    QVERIFY(list.Item(1) == first); // equal texts keep their order of arrival
    QCOMPARE(first.SubItems(2), QStringLiteral("000001N"));
    verifyConsistent(list);
}

void tst_ListView::multiSelect()
{
    ListView list;
    for (const char *id : {"1", "2", "3", "4"})
        list.Add(QLatin1String(id));
    QCOMPARE(list.selectionMode(), QAbstractItemView::SingleSelection);

    list.Item(1).setSelected(true);
    list.Item(3).setSelected(true);
    QVERIFY(!list.Item(1).Selected());
    QVERIFY(list.Item(3).Selected());
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("3"));
    verifyConsistent(list);

    list.setMultiSelect(true);
    QCOMPARE(list.selectionMode(), QAbstractItemView::ExtendedSelection);
    list.Item(1).setSelected(true);
    list.Item(4).setSelected(true);
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("4"));
    verifyConsistent(list);

    // Switching back leaves the marks; the next mark clears them.
    list.setMultiSelect(false);
    QVERIFY(list.Item(1).Selected() && list.Item(3).Selected() && list.Item(4).Selected());
    list.Item(4).setSelected(true);
    QVERIFY(!list.Item(1).Selected() && !list.Item(3).Selected() && list.Item(4).Selected());
    verifyConsistent(list);

    list.Item(4).setSelected(false);
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("4")); // unmarking keeps the current row
    verifyConsistent(list);
}

void tst_ListView::selectedItem()
{
    ListView list;
    QVERIFY(list.SelectedItem().isNull());
    for (const char *id : {"3", "1", "2", "4"})
        list.Add(QLatin1String(id));
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("3")); // the first row added
    QVERIFY(!list.SelectedItem().Selected());
    verifyConsistent(list);

    list.Remove(3); // current "3": the row now at its place
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("4"));
    verifyConsistent(list);
    list.Remove(3); // current and last: the new last row
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("2"));
    list.Remove(1); // not the current row
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("2"));
    verifyConsistent(list);
    list.Remove(1);
    QVERIFY(list.SelectedItem().isNull());
    verifyConsistent(list);

    {
        const ListView::BulkUpdate update(&list);
        list.Add(QStringLiteral("9"));
        list.Add(QStringLiteral("8"));
        QCOMPARE(list.SelectedItem().Text(), QStringLiteral("9"));
    }
    verifyConsistent(list);
    list.Clear();
    QVERIFY(list.SelectedItem().isNull());
    QCOMPARE(list.Count(), 0);
    verifyConsistent(list);
}

void tst_ListView::findItem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position"); // 0: none
    QTest::newRow("exact, not a prefix") << "12" << 2;
    QTest::newRow("longer") << "123" << 3;
    QTest::newRow("zero-padded is another text") << "012" << 0;
    QTest::newRow("prefix only") << "1" << 0;
    QTest::newRow("first of duplicates in current order") << "7" << 4;
    QTest::newRow("case counts") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
}

void tst_ListView::findItem()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    ListView list;
    list.setSortKey(1);
    for (const char *row : {"7:z", "123:c", "12:b", "ABC:a", "7:d"})
        addRow(list, QLatin1String(row));
    const ListItem found = list.FindItem(text);
    QCOMPARE(found.isNull(), position == 0);
    if (position)
        QVERIFY(found == list.Item(position));
}

void tst_ListView::handles()
{
    ListView list;
    const ListItem a = list.Add(QStringLiteral("b"));
    const ListItem b = list.Add(QStringLiteral("a"));
    const ListItem c = list.Add(QStringLiteral("c"));
    list.setSortOrder(1);
    QVERIFY(list.Item(3) == b);
    list.Remove(1); // c
    QCOMPARE(a.Text(), QStringLiteral("b"));
    QCOMPARE(list.indexOf(a), 1);
    QCOMPARE(list.indexOf(b), 2);
    QCOMPARE(list.indexOf(c), 0);

    QVERIFY_THROWS_EXCEPTION(std::logic_error, c.Text());
    QVERIFY_THROWS_EXCEPTION(std::logic_error, ListItem().Selected());
    QVERIFY_THROWS_EXCEPTION(std::logic_error, ListItem().setText(QString()));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Item(3));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, list.Remove(-1));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, a.SubItems(3));
    QVERIFY_THROWS_EXCEPTION(std::logic_error, list.AddCopy(c));
    QCOMPARE(list.Count(), 2);

    // A copy into another list is a row of its own there, sorted by its own keys.
    ListView other;
    other.setSortKey(1);
    ListItem named = list.Item(1);
    named.setSubItems(1, QStringLiteral("\u00c9mile"));
    other.Add(QStringLiteral("z")).setSubItems(1, QStringLiteral("emma"));
    const ListItem copy = other.AddCopy(named);
    QVERIFY(copy != named);
    QCOMPARE(other.indexOf(copy), 2);
    QCOMPARE(copy.Text(), named.Text());
    QCOMPARE(copy.SubItems(1), named.SubItems(1));
    QVERIFY(!copy.Selected());

    ListItem survivor;
    {
        ListView gone;
        survivor = gone.Add(QStringLiteral("x"));
    }
    QVERIFY_THROWS_EXCEPTION(std::logic_error, survivor.Text());
}

void tst_ListView::bulkUpdate()
{
    ListView list;
    employeeColumns(list);
    list.setMultiSelect(true);
    list.setSortKey(2);
    for (int id = 1; id <= 10; ++id)
        addRow(list, QStringLiteral("%1:n:%2").arg(id).arg(id, 6, 10, QLatin1Char('0')));

    QSignalSpy resets(list.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(list.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removes(list.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy selections(list.selectionModel(), &QItemSelectionModel::selectionChanged);
    {
        const ListView::BulkUpdate outer(&list);
        {
            const ListView::BulkUpdate inner(&list);
            for (int id = 20; id > 10; --id) {
                ListItem row = addRow(list, QStringLiteral("%1:m").arg(id));
                row.setSubItems(2, QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0')));
                if (id % 3 == 0)
                    row.setSelected(true);
            }
            list.Remove(1);
            list.Item(1).setSelected(true);
        }
        QCOMPARE(resets.count(), 0); // the inner end reaches nothing
        list.setSortOrder(1);
        list.setSortKey(0);
        list.Item(2).setSubItems(1, QStringLiteral("x"));
    }
    QCOMPARE(resets.count(), 1);
    QCOMPARE(inserts.count(), 0);
    QCOMPARE(removes.count(), 0);
    QCOMPARE(list.Count(), 19);
    QCOMPARE(texts(list).first(), QStringLiteral("9"));
    QVERIFY(list.SelectedItem() == list.FindItem(QStringLiteral("2")));
    QVERIFY(selections.count() > 0);
    verifyConsistent(list);

    // Marks only: the selection is re-synced without a model reset.
    {
        const ListView::BulkUpdate update(&list);
        for (int i = 1; i <= list.Count(); ++i)
            list.Item(i).setSelected(i % 2 == 0);
    }
    QCOMPARE(resets.count(), 1);
    verifyConsistent(list);

    // Column 2 stays hidden through the reset.
    QVERIFY(list.isColumnHidden(2));
}

void tst_ListView::removeSelectedFromLastDown_data()
{
    QTest::addColumn<bool>("bulk");
    QTest::addColumn<int>("every"); // every n-th row selected, 0: none
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("spareTail"); // the last rows stay unselected
    QTest::newRow("alternate rows") << false << 2 << 1 << 0;
    QTest::newRow("alternate rows in bulk") << true << 2 << 1 << 0;
    QTest::newRow("all, current last") << false << 1 << 3000 << 0;
    QTest::newRow("all in bulk") << true << 1 << 150 << 0;
    // Tombstones pile up behind the last row and get compacted on the way.
    QTest::newRow("all but the last, current last") << false << 1 << 3000 << 1;
    QTest::newRow("all but the last two, current selected") << false << 1 << 1000 << 2;
    QTest::newRow("every third, current selected") << false << 3 << 3 << 0;
    QTest::newRow("none") << false << 0 << 5 << 0;
}

void tst_ListView::removeSelectedFromLastDown()
{
    QFETCH(bool, bulk);
    QFETCH(int, every);
    QFETCH(int, current);
    QFETCH(int, spareTail);
    ListView list;
    list.setMultiSelect(true);
    QStringList kept;
    {
        const ListView::BulkUpdate update(&list);
        for (int i = 1; i <= 3000; ++i) {
            const QString id = QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
            ListItem row = list.Add(id);
            if (every && i % every == 0 && i <= 3000 - spareTail)
                row.setSelected(true);
            else
                kept << id;
        }
    }
    // The current row, unmarked when it should stay.
    ListItem currentRow = list.Item(current);
    const bool currentGoes = currentRow.Selected();
    currentRow.setSelected(true);
    if (!currentGoes)
        currentRow.setSelected(false);
    verifyConsistent(list);

    {
        std::optional<ListView::BulkUpdate> update;
        if (bulk)
            update.emplace(&list);
        for (int i = list.Count(); i >= 1; --i) {
            if (list.Item(i).Selected())
                list.Remove(i);
        }
    }
    QCOMPARE(texts(list), kept);
    if (kept.isEmpty())
        QVERIFY(list.SelectedItem().isNull());
    else if (!currentGoes)
        QVERIFY(list.SelectedItem() == currentRow);
    verifyConsistent(list);
    // Adding after tombstones places the row right.
    list.Add(QStringLiteral("0150x"));
    QCOMPARE(texts(list), [&] {
        QStringList all = kept << QStringLiteral("0150x");
        all.sort();
        return all;
    }());
    verifyConsistent(list);
}

namespace {

// The list's semantics written out plainly, to check the fast paths against.
struct ReferenceRow
{
    QString columns[3];
    quint64 seq;
    bool selected = false;
    ListItem item;
};

struct Reference
{
    std::vector<ReferenceRow> rows;
    int key = 0;
    int order = 0;
    bool multi = false;
    ListItem current;

    void sort()
    {
        std::stable_sort(
            rows.begin(), rows.end(), [&](const ReferenceRow &a, const ReferenceRow &b) {
                int c = a.columns[key].toCaseFolded().compare(b.columns[key].toCaseFolded());
                if (c == 0)
                    c = a.columns[key].compare(b.columns[key]);
                if (c != 0)
                    return order == 0 ? c < 0 : c > 0;
                return a.seq < b.seq;
            });
    }
};

} // namespace

// Every code unit up to past the Latin scripts, alone and after a capital, in bulk and one by
// one: the order is the one QString::toCaseFolded gives.
void tst_ListView::foldsMatchQt()
{
    QStringList texts;
    for (char16_t c = 1; c < 0x300; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        texts << QString(QChar(c)) << QStringLiteral("K") + QChar(c) + QStringLiteral("x");
    }
    // A unit past 0xfe decides the order itself, whatever follows it.
    texts << QStringLiteral("\u0100a") << QStringLiteral("\u00ffb") << QStringLiteral("\u0101z")
          << QStringLiteral("\u00ff\u00ff") << QStringLiteral("\u00ffa")
          << QStringLiteral("\u0178c");
    // Longer than the packed keys, so that the folds themselves are compared.
    texts << QStringLiteral("\u00c9cole normale sup\u00e9rieure de Lyon")
          << QStringLiteral("\u00e9cole normale sup\u00e9rieure de lyon")
          << QStringLiteral("ECOLE NORMALE SUPERIEURE DE LYON");
    QStringList expected = texts;
    std::stable_sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        const int c = a.toCaseFolded().compare(b.toCaseFolded());
        return c != 0 ? c < 0 : a.compare(b) < 0;
    });
    for (const bool bulk : {true, false}) {
        ListView list;
        {
            std::optional<ListView::BulkUpdate> update;
            if (bulk)
                update.emplace(&list);
            for (const QString &text : texts)
                list.Add(text);
        }
        QCOMPARE(::texts(list), expected);
    }
}

void tst_ListView::takeRowsMatchesCopyAndRemove_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("bulk");
    for (quint32 seed = 1; seed <= 6; ++seed) {
        QTest::addRow("seed %u", seed) << seed << false;
        QTest::addRow("seed %u in bulk", seed) << seed << true;
    }
}

// Two pairs of lists start alike; in one pair rows go across by TakeRows, in the other by
// AddCopy and Remove from the last down. Both pairs must end alike.
void tst_ListView::takeRowsMatchesCopyAndRemove()
{
    QFETCH(quint32, seed);
    QFETCH(bool, bulk);
    QRandomGenerator random(seed);
    ListView from[2], to[2];
    const int rows = 20 + random.bounded(40);
    // With odd seeds the targets sort by name: the rows that come across are keyed afresh.
    const int targetKey = seed % 2 ? 1 : 2;
    for (int n = 0; n < 2; ++n) {
        from[n].setSortKey(2);
        to[n].setSortKey(targetKey);
    }
    // Names past the 24 code units a key holds, and in both cases, need the folds.
    const QStringList names{"Name", "name", "Name past the length a sort key holds", "NAME"};
    for (int i = 0; i < rows; ++i) {
        const QString spec = QStringLiteral("%1:%2 %3:%4")
                                 .arg(random.bounded(30))
                                 .arg(names.at(random.bounded(int(names.size()))))
                                 .arg(random.bounded(5))
                                 .arg(random.bounded(30), 6, 10, QLatin1Char('0'));
        ListView &list = random.bounded(3) == 0 ? to[0] : from[0];
        ListView &twin = &list == &to[0] ? to[1] : from[1];
        addRow(list, spec);
        addRow(twin, spec);
    }
    std::vector<int> positions;
    for (int i = 1; i <= from[0].Count(); ++i) {
        if (random.bounded(2))
            positions.push_back(i);
    }
    const int current = 1 + random.bounded(from[0].Count());
    for (int n = 0; n < 2; ++n) {
        from[n].setMultiSelect(true);
        for (int i = 3; i <= from[n].Count(); i += 3)
            from[n].Item(i).setSelected(true);
        from[n].Item(current).setSelected(true);
        from[n].Item(current).setSelected(false);
    }
    // A handle held to a row that leaves: the row it names must end up out of every list.
    const ListItem held = positions.empty() ? ListItem() : from[0].Item(positions.back());

    std::vector<ListItem> taken;
    {
        std::optional<ListView::BulkUpdate> a, b;
        if (bulk) {
            a.emplace(&from[0]);
            b.emplace(&to[0]);
        }
        taken = to[0].TakeRows(&from[0], positions);
    }
    std::vector<ListItem> copies;
    for (const int position : positions)
        copies.push_back(to[1].AddCopy(from[1].Item(position)));
    for (auto position = positions.rbegin(); position != positions.rend(); ++position)
        from[1].Remove(*position);

    QCOMPARE(taken.size(), copies.size());
    for (std::size_t i = 0; i < taken.size(); ++i) {
        QCOMPARE(taken[i].Text(), copies[i].Text());
        QCOMPARE(taken[i].SubItems(2), copies[i].SubItems(2));
        QCOMPARE(to[0].indexOf(taken[i]), to[1].indexOf(copies[i]));
        QVERIFY(!taken[i].Selected());
    }
    QCOMPARE(texts(from[0]), texts(from[1]));
    QCOMPARE(texts(to[0]), texts(to[1]));
    for (int i = 1; i <= from[0].Count(); ++i)
        QCOMPARE(from[0].Item(i).Selected(), from[1].Item(i).Selected());
    const auto positionOfCurrent = [](ListView &list) {
        return list.SelectedItem() ? list.indexOf(list.SelectedItem()) : 0;
    };
    QCOMPARE(positionOfCurrent(from[0]), positionOfCurrent(from[1]));
    QCOMPARE(positionOfCurrent(to[0]), positionOfCurrent(to[1]));
    if (held)
        QVERIFY_THROWS_EXCEPTION(std::logic_error, held.Text());
    for (ListView *list : {&from[0], &to[0]})
        verifyConsistent(*list);
    QStringList keys;
    for (int i = 1; i <= to[0].Count(); ++i)
        keys << to[0].Item(i).SubItems(targetKey);
    QStringList sorted = keys;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        const int c = a.toCaseFolded().compare(b.toCaseFolded());
        return c != 0 ? c < 0 : a < b;
    });
    QCOMPARE(keys, sorted);

    QVERIFY_THROWS_EXCEPTION(std::out_of_range, to[0].TakeRows(&from[0], {2, 1}));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, to[0].TakeRows(&from[0], {from[0].Count() + 1}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, to[0].TakeRows(&to[0], {}));
}

void tst_ListView::randomOperationsMatchReference_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed = 1; seed <= 12; ++seed)
        QTest::addRow("seed %u", seed) << seed;
}

void tst_ListView::randomOperationsMatchReference()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    ListView list;
    Reference ref;
    quint64 seq = 0;
    // Few distinct texts, mixed case and non-ASCII, so that ties and folds come up often.
    const QStringList words{"a", "A", "b", "B", "ab", "aB", "10", "9", "", "\u00e9", "\u00c9", "z",
                            // Past the 24 code units the packed keys hold.
                            "abcdefghijklmnopqrstuvwxyz1", "ABCDEFGHIJKLMNOPQRSTUVWXYz0",
                            "abcdefghijklmnopqrstuvwxy", "abcdefghijklmnopqrstuvwX",
                            "abcdefghijklmnopqrstuvwx", "Abcdefghijklmnopqrstuvwx"};
    const auto word = [&] { return words.at(random.bounded(int(words.size()))); };
    const auto randomPosition = [&] { return 1 + random.bounded(int(ref.rows.size())); };

    for (int round = 0; round < 60; ++round) {
        std::optional<ListView::BulkUpdate> bulk;
        if (random.bounded(2))
            bulk.emplace(&list);
        for (int step = 0; step < 12; ++step) {
            const int op = random.bounded(9);
            if (op <= 2 || ref.rows.empty()) {
                ReferenceRow row{{word(), word(), word()}, seq++, false, {}};
                if (op == 2 && !ref.rows.empty()) {
                    const ReferenceRow &from = ref.rows[randomPosition() - 1];
                    std::copy(std::begin(from.columns), std::end(from.columns), row.columns);
                    row.item = list.AddCopy(from.item);
                } else {
                    row.item = list.Add(row.columns[0]);
                    row.item.setSubItems(1, row.columns[1]);
                    row.item.setSubItems(2, row.columns[2]);
                }
                if (ref.rows.empty())
                    ref.current = row.item;
                ref.rows.push_back(row);
                ref.sort();
            } else if (op == 3) {
                const int p = randomPosition();
                list.Remove(p);
                const bool wasCurrent = ref.rows[p - 1].item == ref.current;
                ref.rows.erase(ref.rows.begin() + p - 1);
                if (wasCurrent && ref.rows.empty())
                    ref.current = ListItem();
                else if (wasCurrent)
                    ref.current = ref.rows[std::min<std::size_t>(p - 1, ref.rows.size() - 1)].item;
            } else if (op == 4) {
                const int p = randomPosition();
                const int column = random.bounded(3);
                const QString text = word();
                ListItem item = list.Item(p);
                if (column == 0)
                    item.setText(text);
                else
                    item.setSubItems(column, text);
                ref.rows[p - 1].columns[column] = text;
                ref.sort();
            } else if (op == 5) {
                const int p = randomPosition();
                const bool on = random.bounded(3) != 0;
                list.Item(p).setSelected(on);
                if (on && !ref.multi) {
                    for (ReferenceRow &row : ref.rows)
                        row.selected = false;
                }
                ref.rows[p - 1].selected = on;
                if (on)
                    ref.current = ref.rows[p - 1].item;
            } else if (op == 6) {
                ref.multi = !ref.multi;
                list.setMultiSelect(ref.multi);
            } else if (op == 7) {
                ref.key = random.bounded(3);
                ref.order = random.bounded(2);
                list.setSortKey(ref.key);
                list.setSortOrder(ref.order);
                ref.sort();
            } else {
                const QString text = word();
                const auto it =
                    std::find_if(ref.rows.begin(), ref.rows.end(),
                                 [&](const ReferenceRow &r) { return r.columns[0] == text; });
                QCOMPARE(list.FindItem(text), it == ref.rows.end() ? ListItem() : it->item);
            }
            QCOMPARE(list.Count(), int(ref.rows.size()));
            QVERIFY(list.SelectedItem() == ref.current);
        }
        bulk.reset();
        for (int i = 1; i <= list.Count(); ++i) {
            const ListItem item = list.Item(i);
            const ReferenceRow &row = ref.rows[i - 1];
            QVERIFY(item == row.item);
            QCOMPARE(item.Text(), row.columns[0]);
            QCOMPARE(item.SubItems(1), row.columns[1]);
            QCOMPARE(item.SubItems(2), row.columns[2]);
            QCOMPARE(item.Selected(), row.selected);
            QCOMPARE(list.indexOf(item), i);
        }
        verifyConsistent(list);
    }
}

void tst_ListView::columnHeaders()
{
    ListView list;
    employeeColumns(list);
    list.addColumnHeader(QStringLiteral("ID"), 793.0);
    list.addColumnHeader(QStringLiteral("Name"), 3172.5);
    list.addColumnHeader(QStringLiteral("ID"), 0);
    QCOMPARE(list.columnHeaderCount(), 3);
    QCOMPARE(list.columnHeaderText(2), QStringLiteral("Name"));
    QCOMPARE(list.columnHeaderWidth(1), 793.0);
    QCOMPARE(list.columnHeaderWidth(2), 3172.5);
    QCOMPARE(list.header()->sectionSize(0), 53);  // 52.9 px
    QCOMPARE(list.header()->sectionSize(1), 212); // 211.5 px
    QCOMPARE(list.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QVERIFY(list.header()->isSectionHidden(2));
    QCOMPARE(list.header()->sectionResizeMode(2), QHeaderView::Fixed);
    {
        const ListView::BulkUpdate update(&list); // ends in a model reset
        list.Add(QStringLiteral("1"));
    }
    QCOMPARE(list.header()->sectionSize(0), 53);
    QVERIFY(list.header()->isSectionHidden(2));
    list.resize(265, 185);
    QCOMPARE(list.widthTwips(), 3975);
}

namespace {

// A shown list of ten rows, with the sort key on the ID column.
struct ShownList
{
    ShownList()
    {
        employeeColumns(list);
        list.addColumnHeader(QStringLiteral("ID"), 795);
        list.addColumnHeader(QStringLiteral("Name"), 3180);
        list.addColumnHeader(QStringLiteral("ID"), 0);
        list.setSortKey(2);
        for (int id = 1; id <= 10; ++id)
            addRow(list, QStringLiteral("%1:name %1:%2").arg(id).arg(id, 6, 10, QLatin1Char('0')));
        list.resize(265, 400);
        list.show();
        if (!QTest::qWaitForWindowExposed(&list))
            qWarning("list not exposed");
    }
    ListView list;
};

} // namespace

void tst_ListView::clickAfterSelectionChanged()
{
    ShownList shown;
    ListView &list = shown.list;
    QList<bool> selectedAtClick;
    connect(&list, &ListView::Click, &list, [&] {
        selectedAtClick << list.Item(3).Selected() << list.selectionModel()->isRowSelected(2, {});
    });
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowCenter(list, 3));
    QCOMPARE(selectedAtClick, (QList<bool>{true, true}));
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("3"));
    verifyConsistent(list);
}

void tst_ListView::clickBelowRows()
{
    ShownList shown;
    ListView &list = shown.list;
    QSignalSpy clicks(&list, &ListView::Click);
    const QPoint below(20, rowCenter(list, 10).y() + 60);
    QVERIFY(!list.indexAt(below).isValid());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(clicks.count(), 1);
    verifyConsistent(list);
}

void tst_ListView::doubleClick()
{
    ShownList shown;
    ListView &list = shown.list;
    QSignalSpy clicks(&list, &ListView::Click);
    QSignalSpy doubleClicks(&list, &ListView::DblClick);
    QSignalSpy mouseUps(&list, &ListView::MouseUp);
    // What the platform delivers for a double-click.
    const QPoint at = rowCenter(list, 2);
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(doubleClicks.count(), 1);
    QCOMPARE(mouseUps.count(), 2);
    // The next single click is a click again.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowCenter(list, 4));
    QCOMPARE(clicks.count(), 2);
}

void tst_ListView::mouseUp_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("shift");
    QTest::addColumn<bool>("click");
    QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers() << 1 << 0 << true;
    QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers() << 2 << 0 << false;
    QTest::newRow("middle, shift")
        << Qt::MiddleButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << 4 << 1 << false;
    QTest::newRow("right, ctrl alt")
        << Qt::RightButton << (Qt::ControlModifier | Qt::AltModifier) << 2 << 6 << false;
}

void tst_ListView::mouseUp()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, code);
    QFETCH(int, shift);
    QFETCH(bool, click);
    ShownList shown;
    ListView &list = shown.list;
    QSignalSpy mouseUps(&list, &ListView::MouseUp);
    QSignalSpy clicks(&list, &ListView::Click);
    const QPoint at(30, rowCenter(list, 2).y());
    QTest::mouseClick(list.viewport(), button, modifiers, at);
    QCOMPARE(mouseUps.count(), 1);
    const QList<QVariant> args = mouseUps.takeFirst();
    QCOMPARE(args.at(0).toInt(), code);
    QCOMPARE(args.at(1).toInt(), shift);
    QCOMPARE(args.at(2).toInt(), at.x() * 15);
    QCOMPARE(args.at(3).toInt(), at.y() * 15);
    QCOMPARE(clicks.count(), click ? 1 : 0);
}

void tst_ListView::columnClick()
{
    ShownList shown;
    ListView &list = shown.list;
    list.setSortOrder(1);
    const QStringList before = texts(list);
    QSignalSpy columnClicks(&list, &ListView::ColumnClick);
    QHeaderView *header = list.header();
    for (int section : {1, 0}) {
        const QPoint at(header->sectionViewportPosition(section) + 10, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    QCOMPARE(columnClicks.count(), 2);
    QCOMPARE(columnClicks.at(0).at(0).toInt(), 2);
    QCOMPARE(columnClicks.at(1).at(0).toInt(), 1);
    // Nothing connected changed the order, and the header did not sort by itself.
    QCOMPARE(texts(list), before);
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QVERIFY(!list.isSortingEnabled());
}

void tst_ListView::userSelectionUpdatesMarks()
{
    ShownList shown;
    ListView &list = shown.list;
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rowCenter(list, 2));
    QVERIFY(list.Item(2).Selected());
    list.setMultiSelect(true);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rowCenter(list, 5));
    QVERIFY(list.Item(2).Selected() && list.Item(5).Selected());
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("5"));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCenter(list, 7));
    QVERIFY(list.Item(6).Selected() && list.Item(7).Selected());
    verifyConsistent(list);

    list.setMultiSelect(false);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(list.SelectedItem().Text(), QStringLiteral("8"));
    for (int i = 1; i <= list.Count(); ++i)
        QCOMPARE(list.Item(i).Selected(), i == 8);
    verifyConsistent(list);
}

void tst_ListView::paintsAsTreeView_data()
{
    QTest::addColumn<bool>("focus");
    QTest::addColumn<bool>("allColumnsShowFocus");
    QTest::addColumn<bool>("alternate");
    QTest::addColumn<int>("current"); // a position; its row is selected when odd
    QTest::newRow("plain") << false << false << false << 2;
    QTest::newRow("focus on the current cell") << true << false << false << 4;
    QTest::newRow("focus on the current row, selected") << true << true << false << 3;
    QTest::newRow("focus on the current row, not selected") << true << true << false << 6;
    QTest::newRow("alternating colours") << false << true << true << 5;
    QTest::newRow("alternating colours, focused") << true << true << true << 1;
}

// The list paints its rows itself; a QTreeView over the same model and selection model is the
// picture to match, pixel for pixel.
void tst_ListView::paintsAsTreeView()
{
    QFETCH(bool, focus);
    QFETCH(bool, allColumnsShowFocus);
    QFETCH(bool, alternate);
    QFETCH(int, current);

    ListView list;
    employeeColumns(list);
    list.setMultiSelect(true);
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.addColumnHeader(QStringLiteral("ID"), 600);
    list.addColumnHeader(QStringLiteral("Name"), 2400);
    list.addColumnHeader(QStringLiteral("ID"), 0);
    {
        const ListView::BulkUpdate bulk(&list);
        for (int id = 1; id <= 12; ++id)
            addRow(list, QStringLiteral("%1:Name %1:%2").arg(id).arg(id, 6, 10, QLatin1Char('0')));
        list.setSortKey(2);
    }
    for (int i = 1; i <= list.Count(); i += 2)
        list.Item(i).setSelected(true);
    list.Item(current).setSelected(true); // and the current row
    if (current % 2 == 0)
        list.Item(current).setSelected(false);

    QTreeView tree;
    tree.setModel(list.model());
    tree.setSelectionModel(list.selectionModel());
    tree.setRootIsDecorated(false);
    tree.setUniformRowHeights(true);
    tree.setSelectionBehavior(QAbstractItemView::SelectRows);
    tree.setColumnHidden(2, true);
    for (QTreeView *view : {static_cast<QTreeView *>(&list), &tree}) {
        view->setAllColumnsShowFocus(allColumnsShowFocus);
        view->setAlternatingRowColors(alternate);
        view->header()->resizeSection(0, 40);
        view->header()->resizeSection(1, 160);
        view->resize(240, 220);
        view->show();
    }
    tree.header()->restoreState(list.header()->saveState());
    // Without the focus the list mutes its selection on purpose: the tree is given those colours.
    if (!focus) {
        QPalette muted = tree.palette();
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            muted.setColor(group, QPalette::Highlight, mutedHighlight(tree.palette(), group));
            muted.setColor(group, QPalette::HighlightedText,
                           mutedHighlightedText(tree.palette(), group));
        }
        tree.setPalette(muted);
    }
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    QCOMPARE(tree.currentIndex().row(), current - 1);

    const auto picture = [focus](QTreeView *view) {
        if (focus) {
            view->activateWindow();
            view->setFocus();
            if (!QTest::qWaitFor([view] { return view->hasFocus(); }))
                return QImage();
        }
        return view->viewport()->grab().toImage();
    };
    QImage expected = picture(&tree);
    QImage actual = picture(&list);
    QVERIFY(!expected.isNull());
    // The focused current row carries the list's own focus frame: every other row must match.
    if (focus && allColumnsShowFocus) {
        const QRect row = list.visualRect(list.model()->index(current - 1, 0));
        for (QImage *image : {&expected, &actual}) {
            QPainter painter(image);
            painter.fillRect(QRect(0, row.y(), image->width(), row.height()), Qt::black);
        }
    }
    QCOMPARE(actual, expected);
}

QTEST_MAIN(tst_ListView)
#include "tst_listview.moc"
