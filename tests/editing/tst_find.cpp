#include "EditorHarness.h"

#include "platform/Widgets.h"
#include "support/MessageBoxWatcher.h"

#include <QMessageBox>

using namespace kvetest;
using KavriVendorEmp::platform::systemColor;
using KavriVendorEmp::platform::vbButtonFace;
using KavriVendorEmp::platform::vbWindowBackground;

namespace {

// Chooses the list and the kind of search with the mouse, types the text and presses Find.
void find(Editor &e, bool inLeftList, bool byName, const QString &text)
{
    QTest::mouseClick(inLeftList ? e.optList0 : e.optList1, Qt::LeftButton);
    QTest::mouseClick(byName ? e.optFind0 : e.optFind1, Qt::LeftButton);
    QLineEdit *box = byName ? e.txtVendorName : e.txtVendorID;
    box->clear();
    QTest::keyClicks(box, text);
    QVERIFY(e.cmdFind->isEnabled());
    QTest::mouseClick(e.cmdFind, Qt::LeftButton);
}

} // namespace

class tst_Find : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void search_data();
    void search();
    void emptyListIsNotFound_data();
    void emptyListIsNotFound();
    void foundRowIsScrolledIntoView();
    void choosingKindEmptiesAndLocksOtherBox();
    void clickAfterFindEnablesButtons();
    void findAgain_data();
    void findAgain();
};

void tst_Find::search_data()
{
    QTest::addColumn<bool>("inLeftList");
    QTest::addColumn<bool>("byName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("found"); // empty: "Not found"

    QTest::newRow("ID 12, not 123") << true << false << "12"
                                    << "12";
    QTest::newRow("ID 123") << true << false << "123"
                            << "123";
    QTest::newRow("ID only whole") << true << false << "1"
                                   << "";
    QTest::newRow("ID never a name") << true << false << "Jones"
                                     << "";
    QTest::newRow("ID in the other list") << true << false << "5"
                                          << "";
    QTest::newRow("ID in the right list") << false << false << "5"
                                          << "5";
    QTest::newRow("name smi finds Nesmith first") << true << true << "smi"
                                                  << "123";
    QTest::newRow("name in upper case") << true << true << "NESMITH"
                                        << "123";
    QTest::newRow("name at the start") << true << true << "jon"
                                       << "12";
    QTest::newRow("name never an ID") << true << true << "12"
                                      << "";
    QTest::newRow("name in the other list") << true << true << "Young"
                                            << "";
    QTest::newRow("name in the right list") << false << true << "young"
                                            << "5";
}

void tst_Find::search()
{
    QFETCH(bool, inLeftList);
    QFETCH(bool, byName);
    QFETCH(QString, text);
    QFETCH(QString, found);
    Editor e;
    e.load({{"12", "Jones"}, {"123", "Nesmith"}, {"700", "Smithers"}, {"124", "Smith"}},
           {{"5", "Young"}, {"1234", "Smith"}});
    ListView *list = inLeftList ? e.lstEmployees : e.lstSelectedEmployees;
    // Something selected beforehand in the searched list, with multiple selection on.
    Editor::clickRow(list, inLeftList ? QStringLiteral("700") : QStringLiteral("1234"));
    QVERIFY(list->MultiSelect());

    MessageBoxWatcher boxes;
    find(e, inLeftList, byName, text);

    QVERIFY(!e.lstEmployees->MultiSelect());
    QVERIFY(!e.lstSelectedEmployees->MultiSelect());
    for (QPushButton *button : {e.cmdAdd, e.cmdAddAll, e.cmdDelete, e.cmdRemoveAll})
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    QVERIFY(e.cmdFind->isEnabled());
    if (found.isEmpty()) {
        QTRY_COMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("Not found"));
        QCOMPARE(boxes.boxes()[0].icon, int(QMessageBox::Information));
        QCOMPARE(boxes.boxes()[0].title, QGuiApplication::applicationDisplayName());
    } else {
        QCOMPARE(boxes.boxes().size(), 0);
        QCOMPARE(Editor::selectedTexts(list), QStringList({found}));
        QCOMPARE(Editor::viewSelectedTexts(list), QStringList({found}));
        QCOMPARE(list->SelectedItem().Text(), found);
        QTRY_VERIFY(list->hasFocus());
    }
}

void tst_Find::emptyListIsNotFound_data()
{
    QTest::addColumn<bool>("byName");
    QTest::newRow("ID") << false;
    QTest::newRow("name") << true;
}

void tst_Find::emptyListIsNotFound()
{
    QFETCH(bool, byName);
    Editor e;
    e.load({}, Editor::ids({12}));
    MessageBoxWatcher boxes;
    find(e, true, byName, QStringLiteral("12"));
    QTRY_COMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes()[0].text, QStringLiteral("Not found"));
}

void tst_Find::foundRowIsScrolledIntoView()
{
    Editor e;
    QList<Employee> many;
    for (int id = 1000; id < 1300; ++id)
        many.append({QString::number(id), QStringLiteral("Employee %1").arg(id)});
    many.append({QStringLiteral("5000"), QStringLiteral("Nesmith")});
    e.load(many, {});
    e.lstEmployees->scrollToTop();
    QVERIFY(!Editor::rowShows(e.lstEmployees, "5000"));

    find(e, true, true, QStringLiteral("smi"));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"5000"}));
    QVERIFY(Editor::rowShows(e.lstEmployees, "5000"));
}

void tst_Find::choosingKindEmptiesAndLocksOtherBox()
{
    Editor e;
    e.load(Editor::ids({12}), {});
    QVERIFY(e.optFind1->isChecked());
    QTest::keyClicks(e.txtVendorID, QStringLiteral("12"));
    QVERIFY(e.cmdFind->isEnabled());

    QTest::mouseClick(e.optFind0, Qt::LeftButton);
    QCOMPARE(e.txtVendorID->text(), QString());
    QVERIFY(e.txtVendorID->isReadOnly());
    QCOMPARE(e.txtVendorID->palette().color(QPalette::Base),
             systemColor(e.txtVendorID, vbButtonFace));
    QVERIFY(!e.txtVendorName->isReadOnly());
    QCOMPARE(e.txtVendorName->palette().color(QPalette::Base),
             systemColor(e.txtVendorName, vbWindowBackground));
    QVERIFY(!e.cmdFind->isEnabled());

    // Typing is refused by the locked box and accepted by the active one.
    QTest::keyClicks(e.txtVendorID, QStringLiteral("9"));
    QCOMPARE(e.txtVendorID->text(), QString());
    QTest::keyClicks(e.txtVendorName, QStringLiteral("smi"));
    QVERIFY(e.cmdFind->isEnabled());
    QTest::keyClick(e.txtVendorName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(e.txtVendorName, Qt::Key_Backspace);
    QVERIFY(!e.cmdFind->isEnabled());

    QTest::keyClicks(e.txtVendorName, QStringLiteral("smi"));
    QTest::mouseClick(e.optFind1, Qt::LeftButton);
    QCOMPARE(e.txtVendorName->text(), QString());
    QVERIFY(e.txtVendorName->isReadOnly());
    QCOMPARE(e.txtVendorName->palette().color(QPalette::Base),
             systemColor(e.txtVendorName, vbButtonFace));
    QVERIFY(!e.txtVendorID->isReadOnly());
    QCOMPARE(e.txtVendorID->palette().color(QPalette::Base),
             systemColor(e.txtVendorID, vbWindowBackground));
    QVERIFY(!e.cmdFind->isEnabled());
}

void tst_Find::clickAfterFindEnablesButtons()
{
    Editor e;
    e.load(Editor::ids({12, 13}), {});
    find(e, true, false, QStringLiteral("13"));
    QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList({"13"}));
    QVERIFY(!e.cmdAdd->isEnabled());
    Editor::clickRow(e.lstEmployees, QStringLiteral("13"));
    QVERIFY(e.cmdAdd->isEnabled());
    QVERIFY(!e.cmdAddAll->isEnabled());
}

void tst_Find::findAgain_data()
{
    QTest::addColumn<bool>("inBox");
    QTest::addColumn<bool>("byName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("keys");      // '+' F3, '-' Shift+F3, 'f' the Find button
    QTest::addColumn<QStringList>("found"); // after each key; empty: "Not found"
    // Rows in list order: 7 Ann Smith, 12 Bob, 42 Joanne, 100 Anna, 420 Bob.
    QTest::newRow("name, from the box")
        << true << true << "ann"
        << "f+++--f" << QStringList{"7", "42", "100", "7", "100", "42", "7"};
    QTest::newRow("name, from the list") << false << true << "ANN"
                                         << "+-" << QStringList{"42", "7"};
    QTest::newRow("ID, only match") << false << false << "42"
                                    << "f++-" << QStringList{"42", "42", "42", "42"};
    QTest::newRow("none at all") << true << true << "zz"
                                 << "+-" << QStringList{"", ""};
}

// F3 finds the next match after the current row, wrapping round; Shift+F3 the one before; the
// Find button still finds the first. Each has Find's effects.
void tst_Find::findAgain()
{
    QFETCH(bool, inBox);
    QFETCH(bool, byName);
    QFETCH(QString, text);
    QFETCH(QString, keys);
    QFETCH(QStringList, found);
    Editor e;
    e.load({{"7", "Ann Smith"}, {"12", "Bob"}, {"42", "Joanne"}, {"100", "Anna"}, {"420", "Bob"}},
           Editor::ids({5}));
    MessageBoxWatcher boxes;
    find(e, true, byName, text);
    QLineEdit *box = byName ? e.txtVendorName : e.txtVendorID;
    Editor::clickRow(e.lstEmployees, QStringLiteral("12"));
    Editor::clickRow(e.lstSelectedEmployees, QStringLiteral("5"));
    boxes.clear();
    // Not in the list Find does not search.
    QTest::keyClick(e.lstSelectedEmployees, Qt::Key_F3);
    QCOMPARE(Editor::selectedTexts(e.lstSelectedEmployees), QStringList{"5"});
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QWidget *at = inBox ? static_cast<QWidget *>(box) : e.lstEmployees;
        at->setFocus();
        if (keys[i] == u'f')
            QTest::mouseClick(e.cmdFind, Qt::LeftButton);
        else
            QTest::keyClick(at, Qt::Key_F3, keys[i] == u'-' ? Qt::ShiftModifier : Qt::NoModifier);
        QCOMPARE(boxes.boxes().size(), found[i].isEmpty() ? 1 : 0);
        boxes.clear();
        if (!found[i].isEmpty()) {
            QCOMPARE(Editor::selectedTexts(e.lstEmployees), QStringList{found[i]});
            QCOMPARE(e.lstEmployees->SelectedItem().Text(), found[i]);
            QTRY_VERIFY(e.lstEmployees->hasFocus());
        }
        QVERIFY(!e.lstEmployees->MultiSelect() && !e.lstSelectedEmployees->MultiSelect());
        for (QPushButton *button : {e.cmdAdd, e.cmdAddAll, e.cmdDelete, e.cmdRemoveAll})
            QVERIFY(!button->isEnabled());
    }
}

QTEST_MAIN(tst_Find)
#include "tst_find.moc"
