#include "platform/ListView.h"
#include "support/FixtureServer.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

using namespace KavriVendorEmp;
using platform::ListView;

namespace {

QString accessibleText(QObject *object, QAccessible::Text which)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(which) : QStringLiteral("<no interface>");
}

template <typename W> W *child(VendorEmployee &control, const char *name)
{
    W *w = control.findChild<W *>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyWidgetIsNamed();
    void commandButtons_data();
    void commandButtons();
    void listsAreNamedByTheirCounts();
};

void tst_Accessibility::everyWidgetIsNamed()
{
    VendorEmployee control;
    control.show();
    int checked = 0;
    for (QWidget *w : control.findChildren<QWidget *>()) {
        // Qt's own parts of a widget (scroll bars, viewports, headers) carry no design name.
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QVERIFY2(!accessibleText(w, QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        ++checked;
    }
    QCOMPARE(checked, 22);
}

void tst_Accessibility::commandButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::newRow("cmdAdd") << "cmdAdd"
                            << "Add"
                            << "Link the selected employee to the vendor";
    QTest::newRow("cmdAddAll") << "cmdAddAll"
                               << "Add all selected"
                               << "Link all selected employees to the vendor";
    QTest::newRow("cmdDelete") << "cmdDelete"
                               << "Remove"
                               << "Unlink the selected employee from the vendor";
    QTest::newRow("cmdRemoveAll") << "cmdRemoveAll"
                                  << "Remove all selected"
                                  << "Unlink all selected employees from the vendor";
    QTest::newRow("cmdCommit") << "cmdCommit"
                               << "Commit to Database"
                               << "Save the vendor's employee links to the database";
}

// The arrows on the move buttons are read out as words, and each says what it does.
void tst_Accessibility::commandButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    QFETCH(QString, description);
    VendorEmployee control;
    auto *b = control.findChild<QPushButton *>(button);
    QVERIFY(b);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(b);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(iface->text(QAccessible::Description), description);
    QVERIFY2(b->toolTip().startsWith(description), qPrintable(b->toolTip()));
}

// Each list is announced by its count label, before a load, after it and after a move.
void tst_Accessibility::listsAreNamedByTheirCounts()
{
    VendorEmployee control;
    control.show();
    auto *left = child<ListView>(control, "lstEmployees");
    auto *right = child<ListView>(control, "lstSelectedEmployees");
    auto *allLabel = child<QLabel>(control, "lblAllVendors");
    auto *selLabel = child<QLabel>(control, "lblSelVendors");
    const auto namesFollowLabels = [&] {
        QCOMPARE(accessibleText(left, QAccessible::Name), allLabel->text());
        QCOMPARE(accessibleText(right, QAccessible::Name), selLabel->text());
    };
    namesFollowLabels();
    QCOMPARE(allLabel->buddy(), left);
    QCOMPARE(selLabel->buddy(), right);

    kvetest::FixtureServer server;
    server.serveXml(
        QStringLiteral("/VendorEmployee.asp"),
        kvetest::employeeDocument(2, 1, {{"7", "Alice"}, {"42", "Bob"}}, {{"12", "Carl"}}));
    control.setVendorID(QStringLiteral("12"));
    control.setServerName(server.baseUrl());
    QCOMPARE(accessibleText(left, QAccessible::Name),
             QStringLiteral("Non Selected Active Employees (2):"));
    namesFollowLabels();

    // Ctrl+Space selects the current row, which enables ">"; Enter then moves the row right.
    left->setFocus();
    QTest::keyClick(left, Qt::Key_Space, Qt::ControlModifier);
    QTest::keyClick(left, Qt::Key_Return);
    QCOMPARE(left->Count(), 1);
    QCOMPARE(accessibleText(right, QAccessible::Name), QStringLiteral("Selected Employees (2):"));
    namesFollowLabels();
}

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
