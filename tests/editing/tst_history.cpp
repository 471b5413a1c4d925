// Undo and redo of moves, and the count of pending changes, driven through the widgets.
#include "Outcome.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>

using namespace kvetest;

namespace {

enum Entry { Button, DoubleClick, Key, Drop };

const QList<Employee> left = Editor::ids({7, 12, 42, 100});
const QList<Employee> right = Editor::ids({5, 34, 78});

// Rows in list order: clicks (the Click handler runs), or else marks as a drag's presses leave.
void selectRows(ListView *list, QStringList ids, bool clicks)
{
    std::sort(ids.begin(), ids.end(), [list](const QString &a, const QString &b) {
        return Editor::positionOf(list, a) < Editor::positionOf(list, b);
    });
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (clicks)
            Editor::clickRow(list, ids[i], i ? Qt::ControlModifier : Qt::NoModifier);
        else
            Editor::row(list, ids[i]).setSelected(true);
    }
}

void drop(ListView *from, ListView *to)
{
    QMimeData data;
    data.setData(ListView::dragMimeType(), from->objectName().toUtf8());
    const QPointF at(to->viewport()->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(to->viewport(), &enter);
    QDropEvent dropped(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(to->viewport(), &dropped);
}

// The move of `ids` out of the left list (or the right one) by one of its entries.
void move(Editor &e, bool fromLeft, const QStringList &ids, Entry entry, bool clicks = true)
{
    ListView *source = fromLeft ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *target = fromLeft ? e.lstSelectedEmployees : e.lstEmployees;
    if (entry == DoubleClick)
        return Editor::doubleClickRow(source, ids[0]);
    selectRows(source, ids, clicks);
    if (entry == Key)
        QTest::keyClick(source, fromLeft ? Qt::Key_Return : Qt::Key_Delete);
    else if (entry == Drop)
        drop(source, target);
    else if (ids.size() > 1)
        QTest::mouseClick(fromLeft ? e.cmdAddAll : e.cmdRemoveAll, Qt::LeftButton);
    else
        QTest::mouseClick(fromLeft ? e.cmdAdd : e.cmdDelete, Qt::LeftButton);
}

void keys(Editor &e, const QKeySequence &sequence)
{
    QApplication::setActiveWindow(e.control.get());
    QTest::keySequence(e.control->focusWidget() ? e.control->focusWidget() : e.control.get(),
                       sequence);
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

// Both controls loaded alike, 12 waiting to be linked and 34 to be unlinked.
void prepare(Editor &e)
{
    e.load(left, right);
    move(e, true, {"12"}, Button);
    move(e, false, {"34"}, Button);
}

} // namespace

class tst_History : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoIsTheReverseMove_data();
    void undoIsTheReverseMove();
    void countFollowsMovesLoadsAndUndo();
    void findBoxesKeepTheirOwnUndo();
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
    QTest::newRow("<< drop, one row") << false << QStringList{"78"} << int(Drop);
}

// Ctrl+Z leaves what the reverse move of the same rows, made by hand on a second control,
// leaves; the redo keys what making the move again by hand leaves.
void tst_History::undoIsTheReverseMove()
{
    QFETCH(bool, fromLeft);
    QFETCH(QStringList, ids);
    QFETCH(int, entry);
    const bool all = ids.size() > 1 || entry == Drop;
    Editor byKeys, byHand;
    for (Editor *e : {&byKeys, &byHand})
        prepare(*e);
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
    QCOMPARE(byKeys.control->pendingChanges(), pendingRows(byKeys));

    keys(byKeys, entry % 2 ? QKeySequence(Qt::CTRL | Qt::Key_Y)
                           : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    move(byHand, fromLeft, ids, all ? Drop : Button, !all);
    QCOMPARE(Outcome(byKeys), Outcome(byHand));
    QCOMPARE(Outcome(byKeys).rightCodes, moved.rightCodes);
    QCOMPARE(byKeys.control->pendingChanges(), pendingRows(byKeys));
}

// The count, its signal and the commit tooltip through moves, undo, redo and a load, which also
// clears the history.
void tst_History::countFollowsMovesLoadsAndUndo()
{
    Editor e;
    e.load(left, right);
    QSignalSpy changed(e.control.get(), &KavriVendorEmp::VendorEmployee::pendingChangesChanged);
    const auto expect = [&](int n, const QString &tip, bool signalled = true) {
        QCOMPARE(e.control->pendingChanges(), n);
        QCOMPARE(pendingRows(e), n);
        QCOMPARE(e.control->property("pendingChanges").toInt(), n);
        if (signalled)
            QCOMPARE(changed.takeLast().at(0).toInt(), n);
        QVERIFY(changed.isEmpty());
        QCOMPARE(e.cmdCommit->toolTip(), tip);
    };
    const QString idle = QStringLiteral("Save the vendor's employee links to the database");
    move(e, true, {"7", "12", "42"}, Button);
    expect(3, "Link 3 employees");
    Editor::clickHeader(e.lstSelectedEmployees, 2); // by name: the moved rows change order
    move(e, false, {"5", "12"}, Button); // 12 comes home
    expect(3, "Link 2 and unlink 1 employee", false);
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
    QVERIFY(changed.isEmpty());
}

// In a find box, locked or not, the undo and redo keys are the box's own.
void tst_History::findBoxesKeepTheirOwnUndo()
{
    Editor e;
    e.load(left, right);
    move(e, true, {"42"}, Button);
    const Outcome moved(e);
    e.txtVendorID->setFocus();
    QTest::keyClicks(e.txtVendorID, QStringLiteral("12"));
    keys(e, QKeySequence::Undo);
    QCOMPARE(e.txtVendorID->text(), QString());
    e.txtVendorName->setFocus(); // locked
    for (const QKeySequence &sequence : {QKeySequence(QKeySequence::Undo), QKeySequence(Qt::CTRL | Qt::Key_Y)})
        keys(e, sequence);
    QCOMPARE(Outcome(e), moved);
}

QTEST_MAIN(tst_History)
#include "tst_history.moc"
