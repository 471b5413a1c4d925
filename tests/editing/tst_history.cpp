// Pending rows (their count, signal, drawing and descriptions), and undo and redo of moves,
// driven through the widgets.
#include "Outcome.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyledItemDelegate>

using namespace kvetest;

namespace {

enum Entry
{
    Button,
    DoubleClick,
    Key,
    Drop
};

const QList<Employee> left = Editor::ids({7, 12, 42, 100});
const QList<Employee> right = Editor::ids({5, 34, 78});

// The move of `ids` out of the left list (or the right one) by one of its entries. The rows are
// chosen by clicks in list order, or without them (`clicks` false) as a drag's presses leave them.
void move(Editor &e, bool fromLeft, QStringList ids, Entry entry, bool clicks = true)
{
    ListView *source = fromLeft ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *target = fromLeft ? e.lstSelectedEmployees : e.lstEmployees;
    if (entry == DoubleClick)
        return Editor::doubleClickRow(source, ids[0]);
    std::sort(ids.begin(), ids.end(), [source](const QString &a, const QString &b) {
        return Editor::positionOf(source, a) < Editor::positionOf(source, b);
    });
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (clicks)
            Editor::clickRow(source, ids[i], i ? Qt::ControlModifier : Qt::NoModifier);
        else
            Editor::row(source, ids[i]).setSelected(true);
    }
    if (entry == Key) {
        QTest::keyClick(source, fromLeft ? Qt::Key_Return : Qt::Key_Delete);
    } else if (entry == Drop) {
        QMimeData data;
        data.setData(ListView::dragMimeType(), source->objectName().toUtf8());
        const QPoint at = target->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target->viewport(), &enter);
        QApplication::sendEvent(target->viewport(), &dropped);
    } else {
        QTest::mouseClick(ids.size() > 1 ? (fromLeft ? e.cmdAddAll : e.cmdRemoveAll)
                                         : (fromLeft ? e.cmdAdd : e.cmdDelete),
                          Qt::LeftButton);
    }
}

void keys(Editor &e, const QKeySequence &sequence)
{
    QApplication::setActiveWindow(e.control.get());
    QTest::keySequence(e.control->focusWidget(), sequence);
}

// Rows whose code is not a number, counted from the lists themselves.
int pendingRows(const Editor &e)
{
    int n = 0;
    for (ListView *list : {e.lstEmployees, e.lstSelectedEmployees})
        for (const QString &code : Editor::codes(list))
            n += KavriVendorEmp::ChangeCode::isNumeric(code) ? 0 : 1;
    return n;
}

QImage rowImage(ListView *list, int row)
{
    const QAbstractItemModel *m = list->model();
    return list->viewport()
        ->grab(list->visualRect(m->index(row, 0)).united(list->visualRect(m->index(row, 1))))
        .toImage();
}

} // namespace

class tst_History : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoIsTheReverseMove_data();
    void undoIsTheReverseMove();
    void countFollowsMovesLoadsAndUndo();
    void codesNoLoadMakesUndone();
    void pendingRowsDrawnAndDescribed_data();
    void pendingRowsDrawnAndDescribed();
};

void tst_History::undoIsTheReverseMove_data()
{
    QTest::addColumn<bool>("fromLeft");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("entry");
    QTest::newRow("> button") << true << QStringList{"42"} << int(Button);
    QTest::newRow("> double-click, a pending row") << true << QStringList{"34"} << int(DoubleClick);
    QTest::newRow("> Enter") << true << QStringList{"7"} << int(Key);
    QTest::newRow("< button, a pending row") << false << QStringList{"12"} << int(Button);
    QTest::newRow("< Delete") << false << QStringList{"5"} << int(Key);
    QTest::newRow("< double-click") << false << QStringList{"78"} << int(DoubleClick);
    QTest::newRow(">> button") << true << QStringList{"7", "34", "100"} << int(Button);
    QTest::newRow("<< button") << false << QStringList{"5", "12"} << int(Button);
    QTest::newRow(">> drop") << true << QStringList{"42", "34"} << int(Drop);
    QTest::newRow("<< drop") << false << QStringList{"5", "78"} << int(Drop);
}

// With 12 waiting to be linked and 34 to be unlinked, Ctrl+Z leaves what the reverse move of the
// same rows, made by hand on a second control, leaves; the redo keys what the move made again.
void tst_History::undoIsTheReverseMove()
{
    QFETCH(bool, fromLeft);
    QFETCH(QStringList, ids);
    QFETCH(int, entry);
    const bool all = ids.size() > 1 || entry == Drop;
    Editor byKeys, byHand;
    for (Editor *e : {&byKeys, &byHand}) {
        e->load(left, right);
        move(*e, true, {"12"}, Button);
        move(*e, false, {"34"}, Button);
    }
    const Outcome start(byKeys);
    for (Editor *e : {&byKeys, &byHand})
        move(*e, fromLeft, ids, Entry(entry));
    const Outcome moved(byKeys);
    QCOMPARE(moved, Outcome(byHand));
    QVERIFY(moved.left != start.left);

    keys(byKeys, QKeySequence::Undo);
    move(byHand, !fromLeft, ids, all ? Drop : Button, !all);
    const Outcome undone(byKeys);
    QCOMPARE(undone, Outcome(byHand));
    QCOMPARE(std::tie(undone.left, undone.leftCodes, undone.right, undone.rightCodes),
             std::tie(start.left, start.leftCodes, start.right, start.rightCodes));

    keys(byKeys, entry % 2 ? QKeySequence(Qt::CTRL | Qt::Key_Y)
                           : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    move(byHand, fromLeft, ids, all ? Drop : Button, !all);
    QCOMPARE(Outcome(byKeys), Outcome(byHand));
    QCOMPARE(Outcome(byKeys).rightCodes, moved.rightCodes);
    QCOMPARE(byKeys.control->pendingChanges(), pendingRows(byKeys));
}

// The count, its signal and the commit tooltip through moves, undo (also of rows re-sorted
// since), redo and a load, which clears the history; the find boxes keep their own undo.
void tst_History::countFollowsMovesLoadsAndUndo()
{
    Editor e;
    e.load(left, right);
    QSignalSpy changed(e.control.get(), &KavriVendorEmp::VendorEmployee::pendingChangesChanged);
    const auto expect = [&](int n, const QString &tip, bool signalled = true) {
        QCOMPARE(e.control->property("pendingChanges").toInt(), n);
        QCOMPARE(pendingRows(e), n);
        if (signalled)
            QCOMPARE(changed.takeLast().at(0).toInt(), n);
        QVERIFY(changed.isEmpty());
        QCOMPARE(e.cmdCommit->toolTip(), tip);
    };
    const QString idle = QStringLiteral("Save the vendor's employee links to the database");
    move(e, true, {"7", "12", "42"}, Button);
    expect(3, "Link 3 employees");
    Editor::clickHeader(e.lstSelectedEmployees, 2); // by name: the moved rows change order
    move(e, false, {"5", "12"}, Button);            // 12 comes home
    expect(3, "Link 2 and unlink 1 employee", false);
    e.txtVendorID->setFocus();
    QTest::keyClicks(e.txtVendorID, QStringLiteral("12"));
    keys(e, QKeySequence::Undo);
    QCOMPARE(e.txtVendorID->text(), QString());
    e.txtVendorName->setFocus(); // locked, and still its own
    keys(e, QKeySequence::Undo);
    expect(3, "Link 2 and unlink 1 employee", false);
    e.lstEmployees->setFocus();
    keys(e, QKeySequence::Undo);
    expect(3, "Link 3 employees", false);
    keys(e, QKeySequence::Undo);
    expect(0, idle);
    QCOMPARE(e.lstSelectedEmployees->Count(), 3);
    keys(e, QKeySequence::Redo);
    expect(3, "Link 3 employees");

    e.control->setServerName(e.server.baseUrl());
    expect(0, idle);
    const Outcome loaded(e);
    keys(e, QKeySequence::Undo);
    QCOMPARE(Outcome(e), loaded);
}

// Codes a load never makes (none, as a failed load leaves, and an unpadded one) and a letter a
// move never makes: recoded as every code is, and undone as the same moves made by hand.
void tst_History::codesNoLoadMakesUndone()
{
    Editor byKeys, byHand;
    for (Editor *e : {&byKeys, &byHand}) {
        e->load(left, right);
        Editor::row(e->lstEmployees, "7").setSubItems(2, QString());
        Editor::row(e->lstEmployees, "12").setSubItems(2, QStringLiteral("12"));
        Editor::row(e->lstEmployees, "42").setSubItems(2, QStringLiteral("000042X"));
        Editor::row(e->lstSelectedEmployees, "78").setSubItems(2, QStringLiteral("78"));
        move(*e, false, {"78"}, Button);
        move(*e, true, {"7", "12", "42"}, Button);
    }
    QCOMPARE(Editor::codes(byKeys.lstSelectedEmployees),
             QStringList({"000005", "000007", "000012N", "000034", "000042"}));
    QCOMPARE(Editor::codes(byKeys.lstEmployees), QStringList({"000078D", "000100"}));
    keys(byKeys, QKeySequence::Undo);
    move(byHand, false, {"7", "12", "42"}, Drop, false);
    QCOMPARE(Outcome(byKeys), Outcome(byHand));
    // The reverse single move by hand starts with a click, which also sets ">>"; an undo does not.
    keys(byKeys, QKeySequence::Undo);
    move(byHand, true, {"78"}, Button);
    const Outcome undone(byKeys), made(byHand);
    QCOMPARE(std::tie(undone.leftCodes, undone.rightCodes, undone.rightSelected),
             std::tie(made.leftCodes, made.rightCodes, made.rightSelected));
    QCOMPARE(byKeys.control->pendingChanges(), byHand.control->pendingChanges());
}

void tst_History::pendingRowsDrawnAndDescribed_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("light") << QApplication::palette();
    QPalette dark(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    QTest::newRow("dark") << dark;
    QPalette contrast(Qt::white, Qt::black);
    contrast.setColor(QPalette::Text, Qt::yellow);
    QTest::newRow("high contrast") << contrast;
}

// A pending unlink beside an unchanged row of the same ID and name: the same texts, drawn
// differently, with a mark in the text's colour left of the ID; "pending link" or "pending
// unlink" on every column. With a plain delegate the rows look alike: the difference is drawn.
void tst_History::pendingRowsDrawnAndDescribed()
{
    QFETCH(QPalette, palette);
    Editor e;
    e.control->setPalette(palette);
    e.load({{"42", "Bob"}, {"7", "Al"}}, {{"42", "Bob"}});
    move(e, false, {"42"}, Button);
    move(e, true, {"7"}, Button);
    ListView *list = e.lstEmployees;
    QCOMPARE(Editor::codes(list), QStringList({"000042", "000042D"}));
    list->Item(1).setSelected(false);
    list->Item(2).setSelected(false);
    e.txtVendorID->setFocus();
    for (int column = 0; column < 3; ++column) {
        QCOMPARE(list->model()->index(0, column).data(Qt::AccessibleDescriptionRole), QVariant());
        QCOMPARE(list->model()->index(1, column).data(Qt::AccessibleDescriptionRole),
                 QVariant(QStringLiteral("pending unlink")));
        QCOMPARE(
            e.lstSelectedEmployees->model()->index(0, column).data(Qt::AccessibleDescriptionRole),
            QVariant(QStringLiteral("pending link")));
    }
    QCOMPARE(list->model()->index(1, 0).data(), QVariant(QStringLiteral("42")));

    const QImage unchanged = rowImage(list, 0);
    const QImage pending = rowImage(list, 1);
    QVERIFY(pending != unchanged);
    const QColor text = list->palette().color(QPalette::Text);
    bool markShows = false; // left of the moved-over ID only the mark is drawn
    for (int y = 0; y < pending.height(); ++y)
        for (int x = 0; x < list->fontMetrics().height() * 5 / 8 + 2; ++x) {
            const QColor c = pending.pixelColor(x, y);
            markShows |= qAbs(c.red() - text.red()) + qAbs(c.green() - text.green()) +
                             qAbs(c.blue() - text.blue()) <
                         60;
        }
    QVERIFY(markShows);
    list->setItemDelegate(new QStyledItemDelegate(list));
    QCOMPARE(rowImage(list, 0), unchanged);
    QCOMPARE(rowImage(list, 1), unchanged);
}

QTEST_MAIN(tst_History)
#include "tst_history.moc"
