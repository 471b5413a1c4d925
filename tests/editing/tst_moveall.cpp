#include "EditorHarness.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

using namespace kvetest;

namespace {

// "Remove" from the popup menu of the right-hand list: a move that raises no Click, so the
// move-all buttons keep their state.
void removeByPopup(Editor &e, const QString &id)
{
    auto *menu = e.widget<QMenu>("mnuRemove");
    auto *remove = e.widget<QAction>("mnuRemoveItems");
    QTimer::singleShot(0, menu, [menu, remove] {
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
    });
    ListView *list = e.lstSelectedEmployees;
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {},
                        Editor::rowPoint(list, Editor::positionOf(list, id)));
    QApplication::setActiveWindow(e.control.get());
}

void selectRows(ListView *list, const QStringList &ids)
{
    for (qsizetype i = 0; i < ids.size(); ++i)
        Editor::clickRow(list, ids[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
}

} // namespace

class tst_MoveAll : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void workedExampleThereAndBack();
    void unchangedRowGetsLetter_data();
    void unchangedRowGetsLetter();
    void sourceWithoutSelectedRow();
    void emptiedSourceDisablesItsOption();
    void emptySourceChangesNothing();
    void eachListSeesOneUpdate();
};

// 000012, 000034N and 000056 selected on the right go left as 000012D, 000034 and 000056D, and
// ">>" straight after brings exactly them back.
void tst_MoveAll::workedExampleThereAndBack()
{
    Editor e;
    e.load(Editor::ids({34, 78}), Editor::ids({12, 56, 90}));
    Editor::clickRow(e.lstEmployees, QStringLiteral("34"));
    QTest::mouseClick(e.cmdAdd, Qt::LeftButton);
    QCOMPARE(Editor::codes(e.lstSelectedEmployees),
             QStringList({"000012", "000034N", "000056", "000090"}));

    selectRows(e.lstSelectedEmployees, {"12", "34", "56"});
    QVERIFY(e.cmdRemoveAll->isEnabled());
    const bool addBefore = e.cmdAdd->isEnabled();
    const bool deleteBefore = e.cmdDelete->isEnabled();
    QTest::mouseClick(e.cmdRemoveAll, Qt::LeftButton);

    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"12", "34", "56", "78"}));
    QCOMPARE(Editor::codes(e.lstEmployees),
             QStringList({"000012D", "000034", "000056D", "000078"}));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"90"}));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"12", "34", "56"}));
    QCOMPARE(Editor::viewSelectedTexts(e.lstEmployees), QStringList({"12", "34", "56"}));
    QVERIFY(e.lstEmployees->MultiSelect());
    QVERIFY(e.lstSelectedEmployees->MultiSelect()); // the source's switch is left alone
    QCOMPARE(e.lstEmployees->SortKey(), 2);
    QTRY_VERIFY(e.lstEmployees->hasFocus());
    QCOMPARE(e.lblSelVendors->text(), QStringLiteral("Selected Employees (1):"));
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (4):"));
    QVERIFY(!e.cmdRemoveAll->isEnabled());
    QVERIFY(e.cmdAddAll->isEnabled());
    QVERIFY(e.cmdCommit->isEnabled());
    QCOMPARE(e.cmdAdd->isEnabled(), addBefore);
    QCOMPARE(e.cmdDelete->isEnabled(), deleteBefore);
    QVERIFY(e.optList0->isChecked());
    QVERIFY(e.optList0->isEnabled());
    QVERIFY(e.optList1->isEnabled());

    QTest::mouseClick(e.cmdAddAll, Qt::LeftButton);
    QCOMPARE(Editor::codes(e.lstSelectedEmployees),
             QStringList({"000012", "000034N", "000056", "000090"}));
    QCOMPARE(Editor::selectedTexts(e.lstSelectedEmployees), QStringList({"12", "34", "56"}));
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"78"}));
    QVERIFY(e.cmdRemoveAll->isEnabled());
    QVERIFY(!e.cmdAddAll->isEnabled());
    QVERIFY(e.optList1->isChecked());
}

void tst_MoveAll::unchangedRowGetsLetter_data()
{
    QTest::addColumn<bool>("right");
    QTest::newRow(">>") << true;
    QTest::newRow("<<") << false;
}

void tst_MoveAll::unchangedRowGetsLetter()
{
    QFETCH(bool, right);
    Editor e;
    // The target already holds 7: the moved row becomes a second one, with its own code.
    e.load(Editor::ids({7, 8, 1234567}), Editor::ids({7, 8, 1234567}));
    ListView *source = right ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *target = right ? e.lstSelectedEmployees : e.lstEmployees;
    selectRows(source, {"7", "1234567"});
    QTest::mouseClick(right ? e.cmdAddAll : e.cmdRemoveAll, Qt::LeftButton);

    const QString letter = right ? QStringLiteral("N") : QStringLiteral("D");
    QCOMPARE(Editor::codes(source), QStringList({"000008"}));
    QCOMPARE(Editor::codes(target),
             QStringList({"000007", "000007" + letter, "000008", "1234567", "1234567" + letter}));
    QCOMPARE(Editor::selectedTexts(target), QStringList({"7", "1234567"}));
}

// With nothing selected (the selection changed by keyboard, which raises no Click) the press
// still re-keys, focuses and relabels, and flips the move-all buttons.
void tst_MoveAll::sourceWithoutSelectedRow()
{
    Editor e;
    e.load(Editor::ids({7, 8}), Editor::ids({12, 13}));
    Editor::clickHeader(e.lstSelectedEmployees, 2);
    QCOMPARE(e.lstSelectedEmployees->SortKey(), 1);
    selectRows(e.lstEmployees, {"7", "8"});
    QVERIFY(e.cmdAddAll->isEnabled());
    for (int i = 1; i <= e.lstEmployees->Count(); ++i)
        e.lstEmployees->Item(i).setSelected(false);
    const int order = e.lstSelectedEmployees->SortOrder();

    QTest::mouseClick(e.cmdAddAll, Qt::LeftButton);
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"7", "8"}));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees).size(), 2);
    QVERIFY(!e.lstSelectedEmployees->MultiSelect());
    QCOMPARE(e.lstSelectedEmployees->SortKey(), 2);
    QCOMPARE(e.lstSelectedEmployees->SortOrder(), order);
    QTRY_VERIFY(e.lstSelectedEmployees->hasFocus());
    QCOMPARE(e.lblSelVendors->text(), QStringLiteral("Selected Employees (2):"));
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (2):"));
    QVERIFY(!e.cmdAddAll->isEnabled());
    QVERIFY(e.cmdRemoveAll->isEnabled());
    QVERIFY(e.cmdCommit->isEnabled());
    QVERIFY(e.optList1->isChecked());
}

void tst_MoveAll::emptiedSourceDisablesItsOption()
{
    Editor e;
    e.load(Editor::ids({7, 8}), {});
    QVERIFY(!e.optList1->isChecked());
    selectRows(e.lstEmployees, {"7", "8"});
    QTest::mouseClick(e.cmdAddAll, Qt::LeftButton);

    QCOMPARE(e.lstEmployees->Count(), 0);
    QCOMPARE(Editor::codes(e.lstSelectedEmployees), QStringList({"000007N", "000008N"}));
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (0):"));
    QVERIFY(!e.optList0->isEnabled());
    QVERIFY(e.optList1->isEnabled());
    QVERIFY(e.optList1->isChecked());
}

// The popup menu empties the right-hand list without a Click, so "<<" is still enabled; pressing
// it then must change nothing, not even the focus.
void tst_MoveAll::emptySourceChangesNothing()
{
    Editor e;
    e.load(Editor::ids({7, 8}), {});
    selectRows(e.lstEmployees, {"7", "8"});
    QTest::mouseClick(e.cmdAddAll, Qt::LeftButton);
    removeByPopup(e, QStringLiteral("7"));
    removeByPopup(e, QStringLiteral("8"));
    QCOMPARE(e.lstSelectedEmployees->Count(), 0);
    QVERIFY(e.cmdRemoveAll->isEnabled());

    e.txtVendorID->setFocus();
    const QString allLabel = e.lblAllVendors->text();
    const QStringList codes = Editor::codes(e.lstEmployees);
    const QStringList selected = Editor::selectedTexts(e.lstEmployees);
    const bool multi = e.lstEmployees->MultiSelect();
    QTest::mouseClick(e.cmdRemoveAll, Qt::LeftButton);
    QVERIFY(!e.lstEmployees->hasFocus());
    QVERIFY(e.cmdRemoveAll->isEnabled());
    QVERIFY(!e.cmdAddAll->isEnabled());
    QCOMPARE(e.lblAllVendors->text(), allLabel);
    QCOMPARE(Editor::codes(e.lstEmployees), codes);
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), selected);
    QCOMPARE(e.lstEmployees->MultiSelect(), multi);
    QVERIFY(e.optList0->isChecked());
}

// Thousands of rows must not reach the views row by row.
void tst_MoveAll::eachListSeesOneUpdate()
{
    Editor e;
    QList<Employee> rows;
    for (int id = 1; id <= 40; ++id)
        rows.append({QString::number(id), QStringLiteral("Employee %1").arg(id)});
    e.load(rows, Editor::ids({100, 200}));
    selectRows(e.lstEmployees, {"3", "10", "11", "25", "40"});

    QList<std::shared_ptr<QSignalSpy>> resets, rowSignals;
    for (ListView *list : {e.lstEmployees, e.lstSelectedEmployees}) {
        QAbstractItemModel *model = list->model();
        resets << std::make_shared<QSignalSpy>(model, &QAbstractItemModel::modelReset);
        rowSignals << std::make_shared<QSignalSpy>(model, &QAbstractItemModel::rowsInserted)
                   << std::make_shared<QSignalSpy>(model, &QAbstractItemModel::rowsRemoved)
                   << std::make_shared<QSignalSpy>(model, &QAbstractItemModel::rowsMoved)
                   << std::make_shared<QSignalSpy>(model, &QAbstractItemModel::dataChanged);
    }
    QTest::mouseClick(e.cmdAddAll, Qt::LeftButton);

    QCOMPARE(e.lstSelectedEmployees->Count(), 7);
    for (const auto &spy : resets)
        QCOMPARE(spy->count(), 1);
    for (const auto &spy : rowSignals)
        QCOMPARE(spy->count(), 0);
}

QTEST_MAIN(tst_MoveAll)
#include "tst_moveall.moc"
