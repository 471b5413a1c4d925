#pragma once

// A loaded control on screen, reached through its widgets, with the mouse input the editing
// tests drive it by.

#include "editing/ChangeCode.h"
#include "platform/ListView.h"
#include "support/FixtureServer.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace kvetest {

using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;

struct Employee
{
    QString id;
    QString name;
};

class Editor
{
public:
    Editor() : control(std::make_unique<KavriVendorEmp::VendorEmployee>())
    {
        control->show();
        QApplication::setActiveWindow(control.get());
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(control.get());
        lstEmployees = widget<ListView>("lstEmployees");
        lstSelectedEmployees = widget<ListView>("lstSelectedEmployees");
        cmdAdd = widget<QPushButton>("cmdAdd");
        cmdDelete = widget<QPushButton>("cmdDelete");
        cmdAddAll = widget<QPushButton>("cmdAddAll");
        cmdRemoveAll = widget<QPushButton>("cmdRemoveAll");
        cmdCommit = widget<QPushButton>("cmdCommit");
        cmdFind = widget<QPushButton>("cmdFind");
        optList0 = widget<QRadioButton>("optList(0)");
        optList1 = widget<QRadioButton>("optList(1)");
        optFind0 = widget<QRadioButton>("optFind(0)");
        optFind1 = widget<QRadioButton>("optFind(1)");
        txtVendorID = widget<QLineEdit>("txtVendorID");
        txtVendorName = widget<QLineEdit>("txtVendorName");
        lblAllVendors = widget<QLabel>("lblAllVendors");
        lblSelVendors = widget<QLabel>("lblSelVendors");
    }

    template <typename W> W *widget(const char *name) const
    {
        W *w = control->findChild<W *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    // Loads both lists from a fixture server: every row unchanged, both lists keyed on the change
    // code, the find controls enabled.
    void load(const QList<Employee> &nonSelected, const QList<Employee> &selected)
    {
        const auto pairs = [](const QList<Employee> &employees) {
            QList<QPair<QString, QString>> out;
            for (const Employee &e : employees)
                out.append({e.id, e.name});
            return out;
        };
        server.serveXml(QStringLiteral("/VendorEmployee.asp"),
                        employeeDocument(int(nonSelected.size()), int(selected.size()),
                                         pairs(nonSelected), pairs(selected)));
        control->setVendorID(QStringLiteral("12"));
        control->setServerName(server.baseUrl());
        QCOMPARE(lstEmployees->Count(), nonSelected.size());
        QCOMPARE(lstSelectedEmployees->Count(), selected.size());
    }

    // Lists beyond what a load accepts (32,767 rows in all), filled row by row as a load would.
    static void fillDirectly(ListView *list, const QList<Employee> &employees)
    {
        const ListView::BulkUpdate bulk(list);
        for (const Employee &e : employees) {
            ListItem item = list->Add(e.id);
            item.setSubItems(1, e.name);
            item.setSubItems(2, KavriVendorEmp::ChangeCode::baseCode(e.id));
        }
        list->setSortKey(2);
    }

    // Plain IDs named after themselves ("Employee 42").
    static QList<Employee> ids(std::initializer_list<int> values)
    {
        QList<Employee> employees;
        for (int v : values)
            employees.append({QString::number(v), QStringLiteral("Employee %1").arg(v)});
        return employees;
    }

    // --- Reading the lists --------------------------------------------------------------------

    static int positionOf(ListView *list, const QString &id)
    {
        for (int i = 1; i <= list->Count(); ++i) {
            if (list->Item(i).Text() == id)
                return i;
        }
        return 0;
    }
    static ListItem row(ListView *list, const QString &id)
    {
        const int position = positionOf(list, id);
        return position ? list->Item(position) : ListItem();
    }
    static QStringList texts(ListView *list)
    {
        QStringList out;
        for (int i = 1; i <= list->Count(); ++i)
            out << list->Item(i).Text();
        return out;
    }
    static QStringList codes(ListView *list)
    {
        QStringList out;
        for (int i = 1; i <= list->Count(); ++i)
            out << list->Item(i).SubItems(2);
        return out;
    }
    static QStringList selectedTexts(ListView *list)
    {
        QStringList out;
        for (int i = 1; i <= list->Count(); ++i) {
            if (list->Item(i).Selected())
                out << list->Item(i).Text();
        }
        return out;
    }
    // Rows the view itself shows as selected, by ID.
    static QStringList viewSelectedTexts(ListView *list)
    {
        QStringList out;
        const QModelIndexList rows = list->selectionModel()->selectedRows(0);
        for (const QModelIndex &index : rows)
            out << index.data().toString();
        out.sort();
        return out;
    }
    static bool rowShows(ListView *list, const QString &id)
    {
        const int position = positionOf(list, id);
        if (!position)
            return false;
        const QRect rect = list->visualRect(list->model()->index(position - 1, 0));
        return rect.isValid() && list->viewport()->rect().contains(rect);
    }

    // --- Mouse input --------------------------------------------------------------------------

    static QPoint rowPoint(ListView *list, int position)
    {
        const QModelIndex index = list->model()->index(position - 1, 1);
        list->scrollTo(index);
        return list->visualRect(index).center();
    }
    static void clickRow(ListView *list, const QString &id, Qt::KeyboardModifiers keys = {})
    {
        const int position = positionOf(list, id);
        QVERIFY2(position, qPrintable(id));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, keys, rowPoint(list, position));
    }
    static void doubleClickRow(ListView *list, const QString &id)
    {
        const int position = positionOf(list, id);
        QVERIFY2(position, qPrintable(id));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rowPoint(list, position));
    }
    // The empty area below the last row.
    static void clickBelowRows(ListView *list)
    {
        const QPoint point(20, list->viewport()->height() - 3);
        QVERIFY(!list->indexAt(point).isValid());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
    }
    // section: 1-based, as the control counts header sections.
    static void clickHeader(ListView *list, int section)
    {
        QHeaderView *header = list->header();
        const int x =
            header->sectionViewportPosition(section - 1) + header->sectionSize(section - 1) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }

    FixtureServer server;
    std::unique_ptr<KavriVendorEmp::VendorEmployee> control;
    ListView *lstEmployees = nullptr;
    ListView *lstSelectedEmployees = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdAddAll = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QPushButton *cmdCommit = nullptr;
    QPushButton *cmdFind = nullptr;
    QRadioButton *optList0 = nullptr;
    QRadioButton *optList1 = nullptr;
    QRadioButton *optFind0 = nullptr;
    QRadioButton *optFind1 = nullptr;
    QLineEdit *txtVendorID = nullptr;
    QLineEdit *txtVendorName = nullptr;
    QLabel *lblAllVendors = nullptr;
    QLabel *lblSelVendors = nullptr;
};

// Records, and closes, any popup that opens while it lives; a popup that should not open must not
// leave the test waiting in its event loop.
class PopupCatcher : public QObject
{
public:
    PopupCatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                opened = true;
                popup->close();
            }
        });
        m_timer.start(10);
    }
    bool opened = false;

private:
    QTimer m_timer;
};

} // namespace kvetest
