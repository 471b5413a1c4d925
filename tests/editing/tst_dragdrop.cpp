#include "Outcome.h"

#include <QDropEvent>
#include <QMimeData>

using namespace kvetest;

namespace {

void selectRows(ListView *list, const QStringList &ids)
{
    for (qsizetype i = 0; i < ids.size(); ++i)
        Editor::clickRow(list, ids[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
}

std::unique_ptr<QMimeData> rowsFrom(const QString &source)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(ListView::dragMimeType(), source.toUtf8());
    return data;
}

// Drags `data` over the target's viewport and drops it there, as the drag machinery would;
// returns whether the drop was taken.
bool drop(ListView *target, const QMimeData *data)
{
    const QPointF at(target->viewport()->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target->viewport(), &enter);
    QDropEvent dropped(at, Qt::MoveAction | Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target->viewport(), &dropped);
    return enter.isAccepted() && dropped.isAccepted();
}

} // namespace

class tst_DragDrop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dropIsMoveAll_data();
    void dropIsMoveAll();
    void dropsNotTaken_data();
    void dropsNotTaken();
    void dragNamesItsList();
};

void tst_DragDrop::dropIsMoveAll_data()
{
    QTest::addColumn<bool>("toRight");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("left to right, two rows") << true << QStringList({"34", "78"});
    QTest::newRow("right to left, two rows") << false << QStringList({"12", "90"});
    // One selected row leaves ">>" disabled: the drop, standing for it, does nothing.
    QTest::newRow("left to right, one row") << true << QStringList({"78"});
}

// A drop leaves everything as pressing that direction's move-all button does, with the same
// change codes; where that button is disabled, it leaves everything as it was.
void tst_DragDrop::dropIsMoveAll()
{
    QFETCH(bool, toRight);
    QFETCH(QStringList, rows);
    Editor byDrop, byButton;
    for (Editor *e : {&byDrop, &byButton}) {
        e->load(Editor::ids({34, 56, 78}), Editor::ids({12, 90}));
        selectRows(toRight ? e->lstEmployees : e->lstSelectedEmployees, rows);
    }

    ListView *source = toRight ? byDrop.lstEmployees : byDrop.lstSelectedEmployees;
    ListView *target = toRight ? byDrop.lstSelectedEmployees : byDrop.lstEmployees;
    QVERIFY(drop(target, rowsFrom(source->objectName()).get()));
    QTest::mouseClick(toRight ? byButton.cmdAddAll : byButton.cmdRemoveAll, Qt::LeftButton);

    QCOMPARE(Outcome(byDrop), Outcome(byButton));
    for (const QString &id : rows)
        QCOMPARE(Editor::positionOf(source, id) == 0, rows.size() > 1);
}

void tst_DragDrop::dropsNotTaken_data()
{
    QTest::addColumn<bool>("ontoRight");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("source");
    QTest::newRow("onto its own list") << false << ListView::dragMimeType() << "lstEmployees";
    QTest::newRow("right onto itself")
        << true << ListView::dragMimeType() << "lstSelectedEmployees";
    QTest::newRow("plain text naming the other list")
        << true << QStringLiteral("text/plain") << "lstEmployees";
    QTest::newRow("no source named") << true << ListView::dragMimeType() << QString();
    QTest::newRow("an unknown list") << true << ListView::dragMimeType() << "lstOther";
}

void tst_DragDrop::dropsNotTaken()
{
    QFETCH(bool, ontoRight);
    QFETCH(QString, format);
    QFETCH(QString, source);
    Editor e;
    e.load(Editor::ids({34, 56, 78}), Editor::ids({12, 90}));
    selectRows(e.lstEmployees, {"34", "78"});
    const Outcome before(e);

    QMimeData data;
    data.setData(format, source.toUtf8());
    ListView *target = ontoRight ? e.lstSelectedEmployees : e.lstEmployees;
    const bool taken = drop(target, &data);
    QCOMPARE(Outcome(e), before);
    // An unknown list of the same kind is taken by the view, but the control moves nothing.
    QCOMPARE(taken, source == QLatin1String("lstOther"));
}

// The data a real drag carries is the model's: it names the list the rows are dragged from.
void tst_DragDrop::dragNamesItsList()
{
    Editor e;
    e.load(Editor::ids({34, 56}), Editor::ids({12}));
    for (ListView *list : {e.lstEmployees, e.lstSelectedEmployees}) {
        QVERIFY(list->dragEnabled());
        QVERIFY(list->viewport()->acceptDrops());
        const QModelIndex row = list->model()->index(0, 0);
        QVERIFY(list->model()->flags(row) & Qt::ItemIsDragEnabled);
        const std::unique_ptr<QMimeData> data(list->model()->mimeData({row}));
        QCOMPARE(ListView::dragSource(data.get()), list->objectName());
    }
}

QTEST_MAIN(tst_DragDrop)
#include "tst_dragdrop.moc"
