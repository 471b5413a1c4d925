#pragma once

// The control, driven through its widgets as a user would.

#include "Harness.h"
#include "platform/ListView.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QPushButton>

#include <memory>

namespace kvecompare {

using KavriVendorEmp::VendorEmployee;
using KavriVendorEmp::platform::ListItem;
using KavriVendorEmp::platform::ListView;

struct Control
{
    std::unique_ptr<VendorEmployee> control = std::make_unique<VendorEmployee>();
    ListView *left = control->findChild<ListView *>(QStringLiteral("lstEmployees"));
    ListView *right = control->findChild<ListView *>(QStringLiteral("lstSelectedEmployees"));
    QPushButton *cmdAddAll = control->findChild<QPushButton *>(QStringLiteral("cmdAddAll"));
    QPushButton *cmdRemoveAll = control->findChild<QPushButton *>(QStringLiteral("cmdRemoveAll"));
    QPushButton *cmdCommit = control->findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    QPushButton *cmdFind = control->findChild<QPushButton *>(QStringLiteral("cmdFind"));

    Control()
    {
        control->resize(control->sizeHint());
        control->show();
        control->setVendorID(QString::number(vendor));
        boxCloser();
    }
    void load(const Server &server)
    {
        control->setServerName(server.url());
        settle();
    }
    // Marks the rows `pick` says yes to, and clicks the list, as a user's selection would end.
    template <typename Pick> static void select(ListView *list, Pick pick)
    {
        {
            const ListView::BulkUpdate bulk(list);
            list->setMultiSelect(true);
            const int n = list->Count();
            for (int i = 1; i <= n; ++i) {
                ListItem item = list->Item(i);
                item.setSelected(pick(i - 1, item));
            }
        }
        Q_EMIT list->Click();
        settle();
    }
    static void selectSpread(ListView *list, int count)
    {
        const int n = list->Count();
        select(list, [&](int i, const ListItem &) { return spreadMark(i, n, count); });
    }
    void click(QPushButton *button)
    {
        if (!button->isEnabled())
            throw std::logic_error("button not enabled: " + button->objectName().toStdString());
        button->click();
        settle();
    }
};

inline QStringList idsOf(ListView *list)
{
    QStringList ids;
    for (int i = 1; i <= list->Count(); ++i)
        ids.append(list->Item(i).Text());
    return ids;
}

} // namespace kvecompare
