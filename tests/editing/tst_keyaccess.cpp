// The whole job without a mouse: keys delivered to the window as the window system delivers
// them, and what assistive technology reads through QAccessible.

#include "Outcome.h"

#include "support/MessageBoxWatcher.h"

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QStyleFactory>

#include <cmath>

using namespace kvetest;

namespace {

const QList<Employee> named = {{"7", "Alice"}, {"42", "Bob"}, {"100", "Anna"}, {"12", "Carl"}};

// Through the window's system interface, to whatever has the focus.
void press(Editor &e, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(e.control->windowHandle(), key, modifiers);
}

double linear(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double contrast(QColor a, QColor b)
{
    const auto lum = [](QColor c) {
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = lum(a), y = lum(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QPalette scheme(const QString &name)
{
    QPalette p = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    const auto set = [&p](QPalette::ColorRole role, QColor c) {
        p.setColor(QPalette::All, role, c);
    };
    if (name == QLatin1String("dark")) {
        for (auto [role, c] : {std::pair{QPalette::Window, QColor(53, 53, 53)},
                               {QPalette::Base, QColor(35, 35, 35)},
                               {QPalette::Button, QColor(53, 53, 53)},
                               {QPalette::Text, QColor(Qt::white)},
                               {QPalette::WindowText, QColor(Qt::white)},
                               {QPalette::ButtonText, QColor(Qt::white)},
                               {QPalette::Highlight, QColor(42, 130, 218)},
                               {QPalette::HighlightedText, QColor(Qt::white)}})
            set(role, c);
    } else if (name == QLatin1String("high contrast")) {
        for (auto [role, c] : {std::pair{QPalette::Window, QColor(Qt::black)},
                               {QPalette::Base, QColor(Qt::black)},
                               {QPalette::Button, QColor(Qt::black)},
                               {QPalette::Text, QColor(Qt::white)},
                               {QPalette::WindowText, QColor(Qt::white)},
                               {QPalette::ButtonText, QColor(Qt::white)},
                               {QPalette::Highlight, QColor(Qt::yellow)},
                               {QPalette::HighlightedText, QColor(Qt::black)}})
            set(role, c);
    }
    return p;
}

} // namespace

class tst_KeyAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setStyle(QStringLiteral("Fusion")); }
    void cleanup() { QApplication::setPalette(scheme(QStringLiteral("light"))); }
    void keysRunTheClickRule_data();
    void keysRunTheClickRule();
    void keysRespectTheirButtons_data();
    void keysRespectTheirButtons();
    void popupByKeyStartsOnRemove_data();
    void popupByKeyStartsOnRemove();
    void tableReadsTwoColumns();
    void moveFocusesTheMovedRow_data();
    void moveFocusesTheMovedRow();
    void focusAndSelectionStandOut_data();
    void focusAndSelectionStandOut();
    void findBoxesFollowThePalette();
};

void tst_KeyAccess::keysRunTheClickRule_data()
{
    QTest::addColumn<QList<QKeyCombination>>("keys");
    QTest::addColumn<int>("selected");
    // Rows in change-code order: 7, 12, 42, 100; the current row after Tab is the first.
    QTest::newRow("Down") << QList<QKeyCombination>{Qt::Key_Down} << 1;
    QTest::newRow("Shift+Down twice")
        << QList<QKeyCombination>{Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down} << 3;
    QTest::newRow("Ctrl+Space, Ctrl+Down, Ctrl+Space")
        << QList<QKeyCombination>{Qt::CTRL | Qt::Key_Space, Qt::CTRL | Qt::Key_Down,
                                  Qt::CTRL | Qt::Key_Space}
        << 2;
    QTest::newRow("Ctrl+A") << QList<QKeyCombination>{Qt::CTRL | Qt::Key_A} << 4;
    QTest::newRow("End") << QList<QKeyCombination>{Qt::Key_End} << 1;
}

// Straight after a load, with a row selected in the other list: keys alone reach multiple
// selection and the move button that fits, exactly as clicks do.
void tst_KeyAccess::keysRunTheClickRule()
{
    QFETCH(QList<QKeyCombination>, keys);
    QFETCH(int, selected);
    for (const bool left : {true, false}) {
        Editor e;
        e.load(left ? named : Editor::ids({5, 6}), left ? Editor::ids({5, 6}) : named);
        ListView *list = left ? e.lstEmployees : e.lstSelectedEmployees;
        ListView *other = left ? e.lstSelectedEmployees : e.lstEmployees;
        Editor::clickRow(other, QStringLiteral("6"));
        list->setFocus();
        for (const QKeyCombination key : keys)
            press(e, key.key(), key.keyboardModifiers());

        QCOMPARE(Editor::selectedTexts(list).size(), selected);
        QCOMPARE(Editor::selectedTexts(other), QStringList());
        QCOMPARE((left ? e.cmdAdd : e.cmdDelete)->isEnabled(), selected < 2);
        QCOMPARE((left ? e.cmdAddAll : e.cmdRemoveAll)->isEnabled(), selected >= 2);
        QVERIFY(!(left ? e.cmdDelete : e.cmdAdd)->isEnabled());
        QVERIFY(list->MultiSelect());
    }
}

void tst_KeyAccess::keysRespectTheirButtons_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<int>("key");
    QTest::newRow("Return on the left") << true << int(Qt::Key_Return);
    QTest::newRow("Return on the right") << false << int(Qt::Key_Return);
    QTest::newRow("Delete on the right") << false << int(Qt::Key_Delete);
    QTest::newRow("menu key on the right") << false << int(Qt::Key_Menu);
}

// Tab into a list right after a load: its current row was never selected and every move button
// is disabled, so the keys that stand for them do nothing and open nothing.
void tst_KeyAccess::keysRespectTheirButtons()
{
    QFETCH(bool, left);
    QFETCH(int, key);
    Editor e;
    e.load(named, named.mid(0, 2));
    ListView *list = left ? e.lstEmployees : e.lstSelectedEmployees;
    list->setFocus();
    QVERIFY(list->SelectedItem());
    const Outcome before(e);
    const PopupCatcher catcher;
    press(e, Qt::Key(key));
    QTest::qWait(30);
    QCOMPARE(Outcome(e), before);
    QVERIFY(!catcher.opened);
}

void tst_KeyAccess::popupByKeyStartsOnRemove_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("Shift+F10") << true;
    QTest::newRow("right click") << false;
}

// Opened by a key, "Remove" is active and Return chooses it; opened by the mouse, nothing is.
void tst_KeyAccess::popupByKeyStartsOnRemove()
{
    QFETCH(bool, byKey);
    Editor e;
    e.load(Editor::ids({5}), Editor::ids({12, 42}));
    ListView *list = e.lstSelectedEmployees;
    Editor::clickRow(list, QStringLiteral("42"));
    auto *menu = e.widget<QMenu>("mnuRemove");
    QAction *active = nullptr;
    QTimer poll; // the menu runs its own event loop
    connect(&poll, &QTimer::timeout, menu, [&] {
        if (!menu->isVisible())
            return;
        poll.stop();
        active = menu->activeAction();
        if (byKey)
            QTest::keyClick(menu, Qt::Key_Return);
        else
            menu->close();
    });
    poll.start(10);
    if (byKey)
        press(e, Qt::Key_F10, Qt::ShiftModifier);
    else
        QTest::mouseRelease(list->viewport(), Qt::RightButton, {},
                            Editor::rowPoint(list, Editor::positionOf(list, "42")));
    QCOMPARE(active, byKey ? e.widget<QAction>("mnuRemoveItems") : nullptr);
    QCOMPARE(Editor::texts(list), byKey ? QStringList({"12"}) : QStringList({"12", "42"}));
}

// Each list is a table of ID and Name; the change code is no cell, though the model keeps it.
void tst_KeyAccess::tableReadsTwoColumns()
{
    Editor e;
    e.load(named, Editor::ids({5}));
    Editor::doubleClickRow(e.lstEmployees, QStringLiteral("42")); // 000042N on the right
    for (ListView *list : {e.lstEmployees, e.lstSelectedEmployees}) {
        QCOMPARE(list->model()->columnCount(), 3);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
        QAccessibleTableInterface *table = iface->tableInterface();
        QVERIFY(table);
        QCOMPARE(iface->role(), QAccessible::Table);
        QCOMPARE(table->columnCount(), 2);
        QCOMPARE(table->rowCount(), list->Count());
        QCOMPARE(iface->childCount(), (list->Count() + 1) * 2);
        QCOMPARE(iface->child(0)->text(QAccessible::Name), QStringLiteral("ID"));
        QCOMPARE(iface->child(1)->text(QAccessible::Name), QStringLiteral("Name"));
        QCOMPARE(iface->child(1)->role(), QAccessible::ColumnHeader);
        for (int row = 0; row < list->Count(); ++row) {
            const ListItem item = list->Item(row + 1);
            QAccessibleInterface *id = table->cellAt(row, 0);
            QCOMPARE(id->text(QAccessible::Name), item.Text());
            QCOMPARE(table->cellAt(row, 1)->text(QAccessible::Name), item.SubItems(1));
            QCOMPARE(iface->indexOfChild(id), (row + 1) * 2);
            QCOMPARE(id->tableCellInterface()->columnHeaderCells().value(0), iface->child(0));
        }
        QVERIFY(!table->cellAt(0, 2));
    }
}

void tst_KeyAccess::moveFocusesTheMovedRow_data()
{
    QTest::addColumn<bool>("fromLeft");
    QTest::addColumn<int>("key");
    QTest::newRow("Return on the left") << true << int(Qt::Key_Return);
    QTest::newRow("Delete on the right") << false << int(Qt::Key_Delete);
}

// The move leaves the focus on the moved row in its new list, as assistive technology asks the
// focused table for it, and nothing focused in the list it left. (The focus events themselves
// reach an update handler only while a platform bridge is active, which offscreen has none of.)
void tst_KeyAccess::moveFocusesTheMovedRow()
{
    QFETCH(bool, fromLeft);
    QFETCH(int, key);
    Editor e;
    e.load(fromLeft ? named : Editor::ids({5, 6}), fromLeft ? Editor::ids({5, 6}) : named);
    ListView *source = fromLeft ? e.lstEmployees : e.lstSelectedEmployees;
    ListView *target = fromLeft ? e.lstSelectedEmployees : e.lstEmployees;
    Editor::clickRow(source, QStringLiteral("12"));
    press(e, Qt::Key(key));
    QCoreApplication::processEvents();

    QVERIFY(target->hasFocus());
    QAccessibleInterface *focused = QAccessible::queryAccessibleInterface(target)->focusChild();
    QVERIFY(focused);
    QCOMPARE(focused->role(), QAccessible::Cell);
    QCOMPARE(focused->text(QAccessible::Name), QStringLiteral("12"));
    QVERIFY(focused->state().focused);
    QVERIFY(!QAccessible::queryAccessibleInterface(source)->focusChild());
}

void tst_KeyAccess::focusAndSelectionStandOut_data()
{
    QTest::addColumn<QString>("palette");
    for (const char *name : {"light", "dark", "high contrast"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Measured on the painted pixels: the focus frame against the focused row's fill and the row
// above it, and the selection of a list without focus against the focused one's.
void tst_KeyAccess::focusAndSelectionStandOut()
{
    QFETCH(QString, palette);
    QApplication::setPalette(scheme(palette));
    Editor e;
    e.load(named, Editor::ids({5}));
    ListView *list = e.lstEmployees;
    Editor::clickRow(list, QStringLiteral("42")); // the third row: rows above and below it
    QVERIFY(list->hasFocus());
    const auto fillAt = [list](const QImage &image) {
        const QRect row = list->visualRect(list->model()->index(2, 0));
        return image.pixelColor(list->viewport()->width() - 8, row.center().y());
    };
    const QRect row = list->visualRect(list->model()->index(2, 0));
    const int x = list->viewport()->width() / 2 + 20;
    const QImage focused = list->viewport()->grab().toImage();
    const QColor frame = focused.pixelColor(x, row.top());
    const QColor above = focused.pixelColor(x, row.top() - 2);
    const QColor fill = fillAt(focused);
    QVERIFY2(contrast(frame, fill) >= 3.0, qPrintable(QString::number(contrast(frame, fill))));
    QVERIFY2(contrast(frame, above) >= 3.0, qPrintable(QString::number(contrast(frame, above))));
    QCOMPARE(focused.pixelColor(x, row.bottom()), frame);

    e.cmdCommit->setEnabled(true);
    e.cmdCommit->setFocus();
    QVERIFY(!list->hasFocus());
    const QImage unfocused = list->viewport()->grab().toImage();
    const QColor muted = fillAt(unfocused);
    QCOMPARE(unfocused.pixelColor(x, row.top()), muted); // no frame without the focus
    QVERIFY2(contrast(muted, above) < contrast(fill, above) - 0.5 && contrast(muted, above) > 1.2,
             qPrintable(QStringLiteral("%1 vs %2").arg(contrast(muted, above)).arg(contrast(fill, above))));
}

// Switched to a dark palette at run time, the active find box is dark with light text and the
// locked one takes the dark button face.
void tst_KeyAccess::findBoxesFollowThePalette()
{
    Editor e;
    e.load(named, {});
    const QPalette dark = scheme(QStringLiteral("dark"));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    QCOMPARE(e.txtVendorID->palette().color(QPalette::Base), dark.color(QPalette::Base));
    QCOMPARE(e.txtVendorName->palette().color(QPalette::Base), dark.color(QPalette::Button));
    for (QLineEdit *box : {e.txtVendorID, e.txtVendorName})
        QVERIFY(contrast(box->palette().color(QPalette::Text), box->palette().color(QPalette::Base)) >= 4.5);
    QTest::mouseClick(e.optFind0, Qt::LeftButton);
    QCOMPARE(e.txtVendorName->palette().color(QPalette::Base), dark.color(QPalette::Base));
    QCOMPARE(e.txtVendorID->palette().color(QPalette::Base), dark.color(QPalette::Button));
}

QTEST_MAIN(tst_KeyAccess)
#include "tst_keyaccess.moc"
