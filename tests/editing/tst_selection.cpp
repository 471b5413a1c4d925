#include "EditorHarness.h"

using namespace kvetest;

class tst_Selection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clickRules_data();
    void clickRules();
    void clickInEmptyList_data();
    void clickInEmptyList();
    void headerRekeysOrReverses_data();
    void headerRekeysOrReverses();
    void idColumnSortsByValue_data();
    void idColumnSortsByValue();
    void hiddenCodeColumnActsLikeId();
    void commitKeepsItsState();
};

void tst_Selection::clickRules_data()
{
    QTest::addColumn<bool>("left");
    // Rows clicked in turn, all but the first with Ctrl; "below" clicks the empty area.
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("singleRow");
    QTest::addColumn<bool>("moveAll");
    for (bool left : {true, false}) {
        const char *side = left ? "left" : "right";
        QTest::addRow("%s, none (below the rows)", side)
            << left << QStringList{"below"} << true << false;
        QTest::addRow("%s, one", side) << left << QStringList{"42"} << true << false;
        QTest::addRow("%s, two", side) << left << QStringList{"7", "100"} << false << true;
        QTest::addRow("%s, three", side) << left << QStringList{"7", "42", "100"} << false << true;
        QTest::addRow("%s, two then one", side)
            << left << QStringList{"7", "42", "42"} << true << false;
    }
}

void tst_Selection::clickRules()
{
    QFETCH(bool, left);
    QFETCH(QStringList, clicks);
    QFETCH(bool, singleRow);
    QFETCH(bool, moveAll);
    Editor e;
    e.load(Editor::ids({7, 42, 100}), Editor::ids({7, 42, 100}));
    ListView *clicked = left ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *other = left ? e.lstSelectedEmployees : e.lstEmployees;
    // The other list first: its rows selected and the other direction's buttons enabled.
    Editor::clickRow(other, QStringLiteral("7"));
    Editor::clickRow(other, QStringLiteral("42"), Qt::ControlModifier);
    QCOMPARE(Editor::selectedTexts(other).size(), 2);

    for (qsizetype i = 0; i < clicks.size(); ++i) {
        if (clicks[i] == QLatin1String("below"))
            Editor::clickBelowRows(clicked);
        else
            Editor::clickRow(clicked, clicks[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
    }

    QPushButton *ownSingle = left ? e.cmdAdd : e.cmdDelete;
    QPushButton *ownAll = left ? e.cmdAddAll : e.cmdRemoveAll;
    QCOMPARE(ownSingle->isEnabled(), singleRow);
    QCOMPARE(ownAll->isEnabled(), moveAll);
    QVERIFY(!(left ? e.cmdDelete : e.cmdAdd)->isEnabled());
    QVERIFY(!(left ? e.cmdRemoveAll : e.cmdAddAll)->isEnabled());
    QCOMPARE(Editor::selectedTexts(other), QStringList());
    QCOMPARE(Editor::viewSelectedTexts(other), QStringList());
    QVERIFY(clicked->MultiSelect());
    QVERIFY(!other->MultiSelect());
    QVERIFY(!e.cmdCommit->isEnabled());
}

void tst_Selection::clickInEmptyList_data()
{
    QTest::addColumn<bool>("left");
    QTest::newRow("left") << true;
    QTest::newRow("right") << false;
}

void tst_Selection::clickInEmptyList()
{
    QFETCH(bool, left);
    Editor e;
    const QList<Employee> rows = Editor::ids({7, 42});
    e.load(left ? QList<Employee>() : rows, left ? rows : QList<Employee>());
    ListView *full = left ? e.lstSelectedEmployees : e.lstEmployees;
    ListView *empty = left ? e.lstEmployees : e.lstSelectedEmployees;
    Editor::clickRow(full, QStringLiteral("7"));
    Editor::clickRow(full, QStringLiteral("42"), Qt::ControlModifier);
    QVERIFY((left ? e.cmdRemoveAll : e.cmdAddAll)->isEnabled());
    const bool fullMulti = full->MultiSelect();
    const bool emptyMulti = empty->MultiSelect();

    QTest::mouseClick(empty->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    for (QPushButton *button : {e.cmdAdd, e.cmdAddAll, e.cmdDelete, e.cmdRemoveAll})
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    QCOMPARE(Editor::selectedTexts(full), QStringList({"7", "42"}));
    QCOMPARE(full->MultiSelect(), fullMulti);
    QCOMPARE(empty->MultiSelect(), emptyMulti);
}

// Name 1, then ID: re-keyed, direction kept. ID again: reversed. Name: re-keyed, still reversed.
void tst_Selection::headerRekeysOrReverses_data()
{
    QTest::addColumn<QString>("list");
    QTest::newRow("lstEmployees") << "lstEmployees";
    QTest::newRow("lstSelectedEmployees") << "lstSelectedEmployees";
}

void tst_Selection::headerRekeysOrReverses()
{
    QFETCH(QString, list);
    Editor e;
    // Name order differs from ID order: Adams 30, Baker 10, Clark 20.
    const QList<Employee> rows{{"10", "Baker"}, {"20", "Clark"}, {"30", "Adams"}};
    e.load(rows, rows);
    auto *view = e.widget<ListView>(qPrintable(list));
    QCOMPARE(view->SortKey(), 2);
    const int order = view->SortOrder();
    const QStringList byId =
        order == 0 ? QStringList{"10", "20", "30"} : QStringList{"30", "20", "10"};
    const QStringList byName =
        order == 0 ? QStringList{"30", "10", "20"} : QStringList{"20", "10", "30"};
    auto reversed = [](QStringList l) {
        std::reverse(l.begin(), l.end());
        return l;
    };

    Editor::clickHeader(view, 2);
    QCOMPARE(view->SortKey(), 1);
    QCOMPARE(view->SortOrder(), order);
    QCOMPARE(Editor::texts(view), byName);

    Editor::clickHeader(view, 1);
    QCOMPARE(view->SortKey(), 2);
    QCOMPARE(view->SortOrder(), order);
    QCOMPARE(Editor::texts(view), byId);

    Editor::clickHeader(view, 1);
    QCOMPARE(view->SortKey(), 2);
    QCOMPARE(view->SortOrder(), 1 - order);
    QCOMPARE(Editor::texts(view), reversed(byId));

    Editor::clickHeader(view, 2);
    QCOMPARE(view->SortKey(), 1);
    QCOMPARE(view->SortOrder(), 1 - order);
    QCOMPARE(Editor::texts(view), reversed(byName));

    Editor::clickHeader(view, 2);
    QCOMPARE(view->SortOrder(), order);
}

void tst_Selection::idColumnSortsByValue_data()
{
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<QStringList>("ascending");
    QTest::newRow("7, 12, 100") << QList<int>{100, 7, 12} << QStringList{"7", "12", "100"};
    // A seven-digit ID has no leading zeros and takes its place by text among six-digit codes.
    QTest::newRow("seven digits") << QList<int>{200000, 1234567, 2}
                                  << QStringList{"2", "1234567", "200000"};
}

void tst_Selection::idColumnSortsByValue()
{
    QFETCH(QList<int>, ids);
    QFETCH(QStringList, ascending);
    Editor e;
    QList<Employee> rows;
    for (int id : ids)
        rows.append({QString::number(id), QStringLiteral("Same name")});
    e.load(rows, {});
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());

    for (int click = 0; click < 2; ++click) {
        Editor::clickHeader(e.lstEmployees, 1);
        QCOMPARE(Editor::texts(e.lstEmployees),
                 e.lstEmployees->SortOrder() == 0 ? ascending : descending);
    }
}

// The zero-wide third section cannot be hit with the mouse; should a click on it arrive, it is
// the ID column's.
void tst_Selection::hiddenCodeColumnActsLikeId()
{
    Editor e;
    e.load(Editor::ids({1, 2}), {});
    Editor::clickHeader(e.lstEmployees, 2);
    const int order = e.lstEmployees->SortOrder();
    Q_EMIT e.lstEmployees->ColumnClick(3);
    QCOMPARE(e.lstEmployees->SortKey(), 2);
    QCOMPARE(e.lstEmployees->SortOrder(), order);
    Q_EMIT e.lstEmployees->ColumnClick(3);
    QCOMPARE(e.lstEmployees->SortOrder(), 1 - order);
}

void tst_Selection::commitKeepsItsState()
{
    Editor e;
    e.load(Editor::ids({7, 8}), Editor::ids({12}));
    Editor::clickRow(e.lstEmployees, QStringLiteral("7"));
    QTest::mouseClick(e.cmdAdd, Qt::LeftButton);
    QVERIFY(e.cmdCommit->isEnabled());
    Editor::clickRow(e.lstEmployees, QStringLiteral("8"));
    Editor::clickRow(e.lstSelectedEmployees, QStringLiteral("12"));
    Editor::clickHeader(e.lstSelectedEmployees, 2);
    Editor::clickBelowRows(e.lstEmployees);
    QVERIFY(e.cmdCommit->isEnabled());
}

QTEST_MAIN(tst_Selection)
#include "tst_selection.moc"
