#include "Outcome.h"

#include "support/MessageBoxWatcher.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

using namespace kvetest;

namespace {

const QList<Employee> named = {{"7", "Alice"}, {"42", "Bob"}, {"100", "Anna"}, {"12", "Carl"}};

enum class Way
{
    Key,
    Mouse
};

// The mouse input a key stands for: a double-click, or "Remove" from the popup menu.
void chooseRemove(Editor &e, const std::function<void()> &open)
{
    auto *menu = e.widget<QMenu>("mnuRemove");
    auto *remove = e.widget<QAction>("mnuRemoveItems");
    QTimer::singleShot(0, menu, [menu, remove] {
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
    });
    open();
    QApplication::setActiveWindow(e.control.get());
}


void waitOutTypeAhead()
{
    QTest::qWait(QApplication::keyboardInputInterval() + 100);
}

} // namespace

class tst_Keyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveKeysMatchTheMouse_data();
    void moveKeysMatchTheMouse();
    void deleteOnTheLeftDoesNothing();
    void menuKeysOpenRemoveAtCurrentRow_data();
    void menuKeysOpenRemoveAtCurrentRow();
    void menuKeyOnEmptyListOpensNothing();
    void enterInFindBoxes_data();
    void enterInFindBoxes();
    void navigationMarksRows_data();
    void navigationMarksRows();
    void typeAhead();
};

void tst_Keyboard::moveKeysMatchTheMouse_data()
{
    QTest::addColumn<bool>("fromLeft");
    QTest::addColumn<int>("key");
    QTest::newRow("Return on the left") << true << int(Qt::Key_Return);
    QTest::newRow("keypad Enter on the left") << true << int(Qt::Key_Enter);
    QTest::newRow("Return on the right") << false << int(Qt::Key_Return);
    QTest::newRow("Delete on the right") << false << int(Qt::Key_Delete);
}

// The key on a row leaves both lists, the labels, the buttons and the options exactly as the
// double-click (Enter, Return) or "Remove" from the menu (Delete) on the same row does.
void tst_Keyboard::moveKeysMatchTheMouse()
{
    QFETCH(bool, fromLeft);
    QFETCH(int, key);
    const QString id = QStringLiteral("42");
    Editor byKey, byMouse;
    for (Editor *e : {&byKey, &byMouse}) {
        if (fromLeft)
            e->load(named, Editor::ids({5}));
        else
            e->load(Editor::ids({5}), named);
    }

    ListView *source = fromLeft ? byKey.lstEmployees : byKey.lstSelectedEmployees;
    Editor::clickRow(source, id);
    QTest::keyClick(source, Qt::Key(key));

    ListView *mouseSource = fromLeft ? byMouse.lstEmployees : byMouse.lstSelectedEmployees;
    if (key == Qt::Key_Delete) {
        Editor::clickRow(mouseSource, id);
        chooseRemove(byMouse, [&] {
            QTest::mouseRelease(mouseSource->viewport(), Qt::RightButton, {},
                                Editor::rowPoint(mouseSource, Editor::positionOf(mouseSource, id)));
        });
    } else {
        Editor::doubleClickRow(mouseSource, id);
    }

    const Outcome outcome(byKey);
    QCOMPARE(outcome, Outcome(byMouse));
    QVERIFY(!Editor::positionOf(source, id));
    QCOMPARE(outcome.commit, true);
}

void tst_Keyboard::deleteOnTheLeftDoesNothing()
{
    Editor e;
    e.load(named, Editor::ids({5}));
    Editor::clickRow(e.lstEmployees, QStringLiteral("42"));
    const Outcome before(e);
    QTest::keyClick(e.lstEmployees, Qt::Key_Delete);
    QCOMPARE(Outcome(e), before);
}

void tst_Keyboard::menuKeysOpenRemoveAtCurrentRow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
}

void tst_Keyboard::menuKeysOpenRemoveAtCurrentRow()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Editor e;
    e.load(Editor::ids({5}), Editor::ids({12, 42, 100}));
    ListView *list = e.lstSelectedEmployees;
    Editor::clickRow(list, QStringLiteral("42"));
    auto *menu = e.widget<QMenu>("mnuRemove");
    const QRect row = list->visualRect(list->model()->index(Editor::positionOf(list, "42") - 1, 0));
    QPoint openedAt;
    QTimer::singleShot(0, menu, [&] { openedAt = menu->pos(); });
    chooseRemove(e, [&] { QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers)); });

    // Under the row, give or take the menu's own margins.
    const QPoint wanted = list->viewport()->mapToGlobal(row.bottomLeft());
    QVERIFY2((openedAt - wanted).manhattanLength() <= 6,
             qPrintable(QStringLiteral("menu at %1,%2, row at %3,%4")
                            .arg(openedAt.x())
                            .arg(openedAt.y())
                            .arg(wanted.x())
                            .arg(wanted.y())));
    QCOMPARE(Editor::texts(list), QStringList({"12", "100"}));
    QCOMPARE(Editor::codes(e.lstEmployees), QStringList({"000005", "000042D"}));
}

void tst_Keyboard::menuKeyOnEmptyListOpensNothing()
{
    Editor e;
    e.load(Editor::ids({5}), {});
    const PopupCatcher catcher;
    e.lstSelectedEmployees->setFocus();
    QTest::keyClick(e.lstSelectedEmployees, Qt::Key_Menu);
    QTest::keyClick(e.lstSelectedEmployees, Qt::Key_F10, Qt::ShiftModifier);
    QTest::qWait(50);
    QVERIFY(!catcher.opened);
}

void tst_Keyboard::enterInFindBoxes_data()
{
    QTest::addColumn<bool>("byName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("ID") << false << QStringLiteral("42") << QStringList({"42"});
    QTest::newRow("name") << true << QStringLiteral("ann") << QStringList({"100"});
    // An empty box leaves Find disabled: Enter neither searches nor says "Not found".
    QTest::newRow("empty ID box") << false << QString() << QStringList();
}

void tst_Keyboard::enterInFindBoxes()
{
    QFETCH(bool, byName);
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    Editor e;
    e.load(named, Editor::ids({5}));
    if (byName)
        QTest::mouseClick(e.optFind0, Qt::LeftButton);
    QLineEdit *box = byName ? e.txtVendorName : e.txtVendorID;
    QTest::keyClicks(box, text);
    QCOMPARE(e.cmdFind->isEnabled(), !text.isEmpty());

    const MessageBoxWatcher boxes;
    QTest::keyClick(box, Qt::Key_Return);
    QTest::qWait(50);
    QVERIFY(boxes.boxes().isEmpty());
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), found);
    if (!found.isEmpty())
        QTRY_VERIFY(e.lstEmployees->hasFocus());
}

void tst_Keyboard::navigationMarksRows_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("current");
    // Rows in change-code order: 7, 12, 42, 100.
    QTest::newRow("Down") << "12" << int(Qt::Key_Down) << 0 << QStringList({"42"}) << "42";
    QTest::newRow("Up") << "12" << int(Qt::Key_Up) << 0 << QStringList({"7"}) << "7";
    QTest::newRow("End") << "12" << int(Qt::Key_End) << 0 << QStringList({"100"}) << "100";
    QTest::newRow("Home") << "42" << int(Qt::Key_Home) << 0 << QStringList({"7"}) << "7";
    QTest::newRow("Shift+Down") << "12" << int(Qt::Key_Down) << int(Qt::ShiftModifier)
                                << QStringList({"12", "42"}) << "42";
    QTest::newRow("Shift+End") << "12" << int(Qt::Key_End) << int(Qt::ShiftModifier)
                               << QStringList({"12", "42", "100"}) << "100";
    // Ctrl moves the current row only; Ctrl+Space then adds it.
    QTest::newRow("Ctrl+Down") << "12" << int(Qt::Key_Down) << int(Qt::ControlModifier)
                               << QStringList({"12"}) << "42";
}

// Keys move the rows' marks and the current row with the view, and the buttons follow the
// selection as they do after a click.
void tst_Keyboard::navigationMarksRows()
{
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QStringList, selected);
    QFETCH(QString, current);
    for (bool left : {true, false}) {
        Editor e;
        if (left)
            e.load(named, Editor::ids({5}));
        else
            e.load(Editor::ids({5}), named);
        ListView *list = left ? e.lstEmployees : e.lstSelectedEmployees;
        ListView *other = left ? e.lstSelectedEmployees : e.lstEmployees;
        Editor::clickRow(other, QStringLiteral("5"));
        Editor::clickRow(list, start);
        QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        QCOMPARE(Editor::selectedTexts(list), selected);
        QStringList sorted = selected;
        sorted.sort();
        QCOMPARE(Editor::viewSelectedTexts(list), sorted);
        QCOMPARE(Outcome::currentText(list), current);
        QCOMPARE(list->currentIndex().row() + 1, Editor::positionOf(list, current));
        QCOMPARE(Editor::selectedTexts(other), QStringList());
        // The keys ran the click rule: the buttons follow the selection they left.
        const bool several = selected.size() > 1;
        QCOMPARE((left ? e.cmdAdd : e.cmdDelete)->isEnabled(), !several);
        QCOMPARE((left ? e.cmdAddAll : e.cmdRemoveAll)->isEnabled(), several);
        QVERIFY(!(left ? e.cmdDelete : e.cmdAdd)->isEnabled());
        if (modifiers == Qt::ControlModifier) {
            QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
            QCOMPARE(Editor::selectedTexts(list), QStringList({"12", "42"}));
            QVERIFY((left ? e.cmdAddAll : e.cmdRemoveAll)->isEnabled());
            QVERIFY(!(left ? e.cmdAdd : e.cmdDelete)->isEnabled());
        }
    }
}

// A letter goes to the next row whose ID or name starts with it, wrapping; the same letter again
// steps on; letters typed in quick succession make a prefix.
void tst_Keyboard::typeAhead()
{
    Editor e;
    e.load(named, Editor::ids({5}));
    ListView *list = e.lstEmployees; // 7 Alice, 12 Carl, 42 Bob, 100 Anna
    Editor::clickRow(list, QStringLiteral("7"));
    waitOutTypeAhead();

    QTest::keyClick(list, Qt::Key_A);
    QCOMPARE(Outcome::currentText(list), QStringLiteral("100"));
    QCOMPARE(Editor::selectedTexts(list), QStringList({"100"}));
    QTest::keyClick(list, Qt::Key_A);
    QCOMPARE(Outcome::currentText(list), QStringLiteral("7"));
    waitOutTypeAhead();

    QTest::keyClicks(list, QStringLiteral("an"));
    QCOMPARE(Outcome::currentText(list), QStringLiteral("100"));
    waitOutTypeAhead();

    QTest::keyClick(list, Qt::Key_4);
    QCOMPARE(Outcome::currentText(list), QStringLiteral("42"));
    QCOMPARE(Editor::viewSelectedTexts(list), QStringList({"42"}));
    QVERIFY(e.cmdAdd->isEnabled());
    waitOutTypeAhead();

    const QStringList before = Editor::selectedTexts(list);
    QTest::keyClick(list, Qt::Key_Z);
    QCOMPARE(Editor::selectedTexts(list), before);
}

QTEST_MAIN(tst_Keyboard)
#include "tst_keyboard.moc"
