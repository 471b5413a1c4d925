#include "EditorHarness.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

using namespace kvetest;

namespace {

enum class Entry
{
    Button,
    DoubleClick,
    Popup
};

// Runs one single-row move on the list's row `id` the way a user would: a click on the row, then
// the move's button, a double-click on the row, or "Remove" from the popup menu.
void moveRow(Editor &e, ListView *source, const QString &id, Entry entry)
{
    switch (entry) {
    case Entry::Button:
        Editor::clickRow(source, id);
        QTest::mouseClick(source == e.lstEmployees ? e.cmdAdd : e.cmdDelete, Qt::LeftButton);
        break;
    case Entry::DoubleClick:
        Editor::doubleClickRow(source, id);
        break;
    case Entry::Popup: {
        Editor::clickRow(source, id);
        auto *menu = e.widget<QMenu>("mnuRemove");
        auto *remove = e.widget<QAction>("mnuRemoveItems");
        // The menu runs its own event loop: choose "Remove" from inside it.
        QTimer::singleShot(0, menu, [menu, remove] {
            QTRY_VERIFY(menu->isVisible());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
        });
        const QPoint at = Editor::rowPoint(source, Editor::positionOf(source, id));
        QTest::mouseRelease(source->viewport(), Qt::RightButton, {}, at);
        // The offscreen platform leaves the closed menu the active window.
        QApplication::setActiveWindow(e.control.get());
        break;
    }
    }
}


struct Snapshot
{
    QStringList left, right, leftCodes, rightCodes, leftSelected, rightSelected;
    QString allLabel, selLabel;
    bool add, del, commit, opt0, opt1, opt0Enabled, opt1Enabled;

    explicit Snapshot(const Editor &e)
        : left(Editor::texts(e.lstEmployees)), right(Editor::texts(e.lstSelectedEmployees)),
          leftCodes(Editor::codes(e.lstEmployees)),
          rightCodes(Editor::codes(e.lstSelectedEmployees)),
          leftSelected(Editor::selectedTexts(e.lstEmployees)),
          rightSelected(Editor::selectedTexts(e.lstSelectedEmployees)),
          allLabel(e.lblAllVendors->text()), selLabel(e.lblSelVendors->text()),
          add(e.cmdAdd->isEnabled()), del(e.cmdDelete->isEnabled()),
          commit(e.cmdCommit->isEnabled()), opt0(e.optList0->isChecked()),
          opt1(e.optList1->isChecked()), opt0Enabled(e.optList0->isEnabled()),
          opt1Enabled(e.optList1->isEnabled())
    {
    }
    bool operator==(const Snapshot &) const = default;
};

} // namespace

Q_DECLARE_METATYPE(Entry)

class tst_Moves : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveRightThenBack_data();
    void moveRightThenBack();
    void moveLeftThenBack_data();
    void moveLeftThenBack();
    void duplicateIdStaysLeft_data();
    void duplicateIdStaysLeft();
    void leftMoveAddsSecondRowWithSameId();
    void emptySourceChangesNothing();
    void emptyIdChangesNothing_data();
    void emptyIdChangesNothing();
    void movingLastRowDisablesItsOption();
    void movedRowIsScrolledIntoView();
    void singleMoveLeavesOtherSelectedRows_data();
    void singleMoveLeavesOtherSelectedRows();
    void moveBeyondRowLimitChangesNothing();
    void popupOnlyOnRightRelease_data();
    void popupOnlyOnRightRelease();
};

void tst_Moves::moveRightThenBack_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::newRow("buttons") << Entry::Button;
    QTest::newRow("double-clicks") << Entry::DoubleClick;
}

void tst_Moves::moveRightThenBack()
{
    QFETCH(Entry, entry);
    Editor e;
    e.load(Editor::ids({7, 42, 100}), Editor::ids({12}));

    moveRow(e, e.lstEmployees, QStringLiteral("42"), entry);
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"7", "100"}));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"12", "42"}));
    QCOMPARE(Editor::row(e.lstSelectedEmployees, "42").SubItems(2), QStringLiteral("000042N"));
    QCOMPARE(Editor::row(e.lstSelectedEmployees, "42").SubItems(1), QStringLiteral("Employee 42"));
    QCOMPARE(Editor::selectedTexts(e.lstSelectedEmployees), QStringList({"42"}));
    QCOMPARE(Editor::viewSelectedTexts(e.lstSelectedEmployees), QStringList({"42"}));
    QCOMPARE(e.lstSelectedEmployees->SelectedItem().Text(), QStringLiteral("42"));
    QVERIFY(!e.lstSelectedEmployees->MultiSelect());
    QTRY_VERIFY(e.lstSelectedEmployees->hasFocus());
    QVERIFY(Editor::rowShows(e.lstSelectedEmployees, "42"));
    QCOMPARE(e.lblSelVendors->text(), QStringLiteral("Selected Employees (2):"));
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (2):"));
    QVERIFY(!e.cmdAdd->isEnabled());
    QVERIFY(e.cmdDelete->isEnabled());
    QVERIFY(e.cmdCommit->isEnabled());
    QVERIFY(e.optList1->isChecked());
    QVERIFY(e.optList0->isEnabled());
    QVERIFY(e.optList1->isEnabled());

    // Straight back: home again, the pending insert gone.
    if (entry == Entry::Button)
        QTest::mouseClick(e.cmdDelete, Qt::LeftButton);
    else
        moveRow(e, e.lstSelectedEmployees, QStringLiteral("42"), entry);
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"7", "42", "100"}));
    QCOMPARE(Editor::codes(e.lstEmployees), QStringList({"000007", "000042", "000100"}));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"12"}));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"42"}));
    QTRY_VERIFY(e.lstEmployees->hasFocus());
    QCOMPARE(e.lblSelVendors->text(), QStringLiteral("Selected Employees (1):"));
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (3):"));
    QVERIFY(e.cmdAdd->isEnabled());
    QVERIFY(!e.cmdDelete->isEnabled());
    QVERIFY(e.cmdCommit->isEnabled());
    QVERIFY(e.optList0->isChecked());
    QVERIFY(e.optList0->isEnabled());
    QVERIFY(e.optList1->isEnabled());
}

void tst_Moves::moveLeftThenBack_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::newRow("button") << Entry::Button;
    QTest::newRow("double-click") << Entry::DoubleClick;
    QTest::newRow("popup menu") << Entry::Popup;
}

void tst_Moves::moveLeftThenBack()
{
    QFETCH(Entry, entry);
    Editor e;
    e.load(Editor::ids({7}), Editor::ids({12, 42}));

    moveRow(e, e.lstSelectedEmployees, QStringLiteral("42"), entry);
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"7", "42"}));
    QCOMPARE(Editor::row(e.lstEmployees, "42").SubItems(2), QStringLiteral("000042D"));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"12"}));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"42"}));
    QTRY_VERIFY(e.lstEmployees->hasFocus());
    QVERIFY(e.cmdAdd->isEnabled());
    QVERIFY(!e.cmdDelete->isEnabled());
    QVERIFY(e.cmdCommit->isEnabled());
    QVERIFY(e.optList0->isChecked());

    QTest::mouseClick(e.cmdAdd, Qt::LeftButton);
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"12", "42"}));
    QCOMPARE(Editor::codes(e.lstSelectedEmployees), QStringList({"000012", "000042"}));
    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"7"}));
}

void tst_Moves::duplicateIdStaysLeft_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::newRow("button") << Entry::Button;
    QTest::newRow("double-click") << Entry::DoubleClick;
}

void tst_Moves::duplicateIdStaysLeft()
{
    QFETCH(Entry, entry);
    Editor e;
    e.load(Editor::ids({42, 43}), Editor::ids({42}));
    Editor::clickRow(e.lstEmployees, QStringLiteral("42"));
    const Snapshot before(e);

    moveRow(e, e.lstEmployees, QStringLiteral("42"), entry);
    QVERIFY(Snapshot(e) == before);
    QVERIFY(e.cmdAdd->isEnabled());
    QVERIFY(!e.cmdCommit->isEnabled());
}

void tst_Moves::leftMoveAddsSecondRowWithSameId()
{
    Editor e;
    e.load(Editor::ids({42}), Editor::ids({42, 43}));
    moveRow(e, e.lstSelectedEmployees, QStringLiteral("42"), Entry::Button);

    QCOMPARE(Editor::texts(e.lstEmployees), QStringList({"42", "42"}));
    QCOMPARE(Editor::codes(e.lstEmployees), QStringList({"000042", "000042D"}));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"43"}));
    // The lookup by ID finds the first of the two, the row that was there before.
    QCOMPARE(e.lstEmployees->SelectedItem().SubItems(2), QStringLiteral("000042"));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"42"}));
}

void tst_Moves::emptySourceChangesNothing()
{
    Editor e;
    e.load({}, Editor::ids({12}));
    QTest::mouseDClick(e.lstEmployees->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(Editor::texts(e.lstSelectedEmployees), QStringList({"12"}));
    QVERIFY(!e.cmdCommit->isEnabled());
    QVERIFY(!e.cmdDelete->isEnabled());

    Editor f;
    f.load(Editor::ids({7}), {});
    const Snapshot before(f);
    QTest::mouseDClick(f.lstSelectedEmployees->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(Snapshot(f) == before);
}

void tst_Moves::emptyIdChangesNothing_data()
{
    QTest::addColumn<bool>("right");
    QTest::newRow(">") << true;
    QTest::newRow("<") << false;
}

void tst_Moves::emptyIdChangesNothing()
{
    QFETCH(bool, right);
    Editor e;
    const QList<Employee> rows = Editor::ids({7});
    if (right)
        e.load(rows, {});
    else
        e.load({}, rows);
    ListView *source = right ? e.lstEmployees : e.lstSelectedEmployees;
    // A document never yields an empty ID (a load refuses it): the row is added directly.
    Editor::fillDirectly(source, {{QString(), QStringLiteral("Nobody")}});
    Editor::clickRow(source, QString());
    QCOMPARE(source->SelectedItem().Text(), QString());
    const Snapshot before(e);

    QTest::mouseClick(right ? e.cmdAdd : e.cmdDelete, Qt::LeftButton);
    QVERIFY(Snapshot(e) == before);
    Editor::doubleClickRow(source, QString());
    QVERIFY(Snapshot(e) == before);
}

void tst_Moves::movingLastRowDisablesItsOption()
{
    Editor e;
    e.load(Editor::ids({7}), Editor::ids({12}));
    moveRow(e, e.lstEmployees, QStringLiteral("7"), Entry::Button);
    QCOMPARE(e.lstEmployees->Count(), 0);
    QCOMPARE(e.lblAllVendors->text(), QStringLiteral("Non Selected Active Employees (0):"));
    QVERIFY(!e.optList0->isEnabled());
    QVERIFY(e.optList1->isEnabled());
    QVERIFY(e.optList1->isChecked());

    // Both rows back: now the right-hand list is the empty one.
    moveRow(e, e.lstSelectedEmployees, QStringLiteral("7"), Entry::Button);
    moveRow(e, e.lstSelectedEmployees, QStringLiteral("12"), Entry::Button);
    QCOMPARE(Editor::codes(e.lstEmployees), QStringList({"000007", "000012D"}));
    QCOMPARE(e.lblSelVendors->text(), QStringLiteral("Selected Employees (0):"));
    QVERIFY(!e.optList1->isEnabled());
    QVERIFY(e.optList0->isEnabled());
    QVERIFY(e.optList0->isChecked());
}

void tst_Moves::movedRowIsScrolledIntoView()
{
    Editor e;
    QList<Employee> many;
    for (int id = 1000; id < 1300; ++id)
        many.append({QString::number(id), QStringLiteral("Employee %1").arg(id)});
    e.load(Editor::ids({999999}), many);
    e.lstSelectedEmployees->scrollToTop();
    QVERIFY(!Editor::rowShows(e.lstSelectedEmployees, "1299"));

    moveRow(e, e.lstEmployees, QStringLiteral("999999"), Entry::Button);
    QCOMPARE(e.lstSelectedEmployees->Item(301).Text(), QStringLiteral("999999"));
    QVERIFY(Editor::rowShows(e.lstSelectedEmployees, "999999"));
}

void tst_Moves::singleMoveLeavesOtherSelectedRows_data()
{
    QTest::addColumn<bool>("right");
    QTest::addColumn<Entry>("entry");
    QTest::newRow("> button") << true << Entry::Button;
    QTest::newRow("< button") << false << Entry::Button;
    QTest::newRow("popup menu") << false << Entry::Popup;
}

// A Ctrl-click that unselects the row it makes current leaves one other row selected, so the
// single-row button stays enabled. The move must take the current row and only that row.
void tst_Moves::singleMoveLeavesOtherSelectedRows()
{
    QFETCH(bool, right);
    QFETCH(Entry, entry);
    Editor e;
    if (right)
        e.load(Editor::ids({7, 42, 100}), Editor::ids({12}));
    else
        e.load(Editor::ids({12}), Editor::ids({7, 42, 100}));
    ListView *source = right ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *target = right ? e.lstSelectedEmployees : e.lstEmployees;
    Editor::clickRow(source, QStringLiteral("7"));
    Editor::clickRow(source, QStringLiteral("42"), Qt::ControlModifier);
    Editor::clickRow(source, QStringLiteral("42"), Qt::ControlModifier);
    QCOMPARE(Editor::selectedTexts(source), QStringList({"7"}));
    QCOMPARE(source->SelectedItem().Text(), QStringLiteral("42"));
    QVERIFY((right ? e.cmdAdd : e.cmdDelete)->isEnabled());

    if (entry == Entry::Popup) {
        auto *menu = e.widget<QMenu>("mnuRemove");
        auto *remove = e.widget<QAction>("mnuRemoveItems");
        QTimer::singleShot(0, menu, [menu, remove] {
            QTRY_VERIFY(menu->isVisible());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
        });
        QTest::mouseRelease(source->viewport(), Qt::RightButton, {},
                            Editor::rowPoint(source, Editor::positionOf(source, "100")));
        QApplication::setActiveWindow(e.control.get());
    } else {
        QTest::mouseClick(right ? e.cmdAdd : e.cmdDelete, Qt::LeftButton);
    }

    QCOMPARE(Editor::texts(source), QStringList({"7", "100"}));
    QCOMPARE(Editor::codes(source), QStringList({"000007", "000100"}));
    QCOMPARE(Editor::texts(target), QStringList({"12", "42"}));
    QCOMPARE(Editor::row(target, "42").SubItems(2),
             right ? QStringLiteral("000042N") : QStringLiteral("000042D"));
}

// Lists this large never come from a load; they are filled directly to reach the limit.
void tst_Moves::moveBeyondRowLimitChangesNothing()
{
    Editor e;
    QList<Employee> full;
    for (int id = 1; id <= 32768; ++id)
        full.append({QString::number(id), QString()});
    e.load(Editor::ids({900000}), {});
    Editor::fillDirectly(e.lstSelectedEmployees, full);
    QCOMPARE(e.lstSelectedEmployees->Count(), 32768);

    // "<" would add the row on the left and then fail to take it from the right.
    QTest::mouseDClick(e.lstSelectedEmployees->viewport(), Qt::LeftButton, {},
                       Editor::rowPoint(e.lstSelectedEmployees, 1));
    QCOMPARE(e.lstEmployees->Count(), 1);
    QCOMPARE(e.lstSelectedEmployees->Count(), 32768);

    // ">" would push the right-hand list further past the limit.
    Editor::doubleClickRow(e.lstEmployees, QStringLiteral("900000"));
    QCOMPARE(e.lstEmployees->Count(), 1);
    QCOMPARE(e.lstSelectedEmployees->Count(), 32768);
    QVERIFY(!e.cmdCommit->isEnabled());
}

void tst_Moves::popupOnlyOnRightRelease_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("rows");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("opens");
    QTest::newRow("right") << "lstSelectedEmployees" << true << Qt::RightButton << true;
    QTest::newRow("left") << "lstSelectedEmployees" << true << Qt::LeftButton << false;
    QTest::newRow("middle") << "lstSelectedEmployees" << true << Qt::MiddleButton << false;
    QTest::newRow("right, empty list")
        << "lstSelectedEmployees" << false << Qt::RightButton << false;
    QTest::newRow("right, other list") << "lstEmployees" << true << Qt::RightButton << false;
}

void tst_Moves::popupOnlyOnRightRelease()
{
    QFETCH(QString, list);
    QFETCH(bool, rows);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, opens);
    Editor e;
    if (rows)
        e.load(Editor::ids({7}), Editor::ids({12}));
    auto *view = e.widget<ListView>(qPrintable(list));

    PopupCatcher catcher;
    QTest::mouseRelease(view->viewport(), button, {}, QPoint(20, 5));
    QCOMPARE(catcher.opened, opens);
    // Closing the menu without a choice moves nothing.
    QCOMPARE(e.lstSelectedEmployees->Count(), rows ? 1 : 0);
    QCOMPARE(e.lstEmployees->Count(), rows ? 1 : 0);
}

QTEST_MAIN(tst_Moves)
#include "tst_moves.moc"
