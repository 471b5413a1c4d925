#pragma once

// The QTreeWidget peer: the dual list most Qt programs would hold.

#include "Harness.h"

#include <QDomDocument>
#include <QTreeWidget>

#include <functional>
#include <vector>

namespace kvecompare {

// ---------------------------------------------------------------------------------------------
// The QTreeWidget peer.

struct PeerList
{
    QTreeWidget tree;
    PeerList()
    {
        tree.setColumnCount(3);
        tree.setHeaderLabels(
            {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Code")});
        tree.setRootIsDecorated(false);
        tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
        tree.setSortingEnabled(true);
        tree.sortByColumn(2, Qt::AscendingOrder);
        tree.resize(265, 185);
        tree.show();
    }
};

struct Peer
{
    PeerList left;
    PeerList right;

    void load(const QString &url)
    {
        QDomDocument doc;
        if (!doc.setContent(httpCall(url)))
            throw std::runtime_error("not a document");
        const QDomElement root = doc.documentElement();
        for (PeerList *list : {&left, &right}) {
            list->tree.clear();
            QList<QTreeWidgetItem *> items;
            const QDomElement section =
                root.firstChildElement(list == &left ? QStringLiteral("NonSelectedEmployees")
                                                     : QStringLiteral("SelectedEmployees"));
            for (QDomElement e = section.firstChildElement(QStringLiteral("Employee")); !e.isNull();
                 e = e.nextSiblingElement(QStringLiteral("Employee"))) {
                const QString id = e.firstChildElement(QStringLiteral("ID")).text();
                items.append(new QTreeWidgetItem(
                    {id, e.firstChildElement(QStringLiteral("Name")).text(), changeCode(id)}));
            }
            list->tree.addTopLevelItems(items);
        }
        settle();
    }
    // The careful version: the source's selection cleared first (each removal otherwise revisits
    // every selected range's persistent indexes), items taken from the last position up, added
    // in one call with sorting off and sorted once. Moving item by item into a list that stays
    // sorted re-sorts it on every item: 30 s for 1,500 items, quadratic, hours at 16,000.
    static void move(PeerList &from, PeerList &to)
    {
        const QList<QTreeWidgetItem *> picked = from.tree.selectedItems();
        std::vector<int> positions;
        positions.reserve(std::size_t(picked.size()));
        for (QTreeWidgetItem *item : picked)
            positions.push_back(from.tree.indexOfTopLevelItem(item));
        std::sort(positions.begin(), positions.end(), std::greater<>());
        from.tree.clearSelection();
        QList<QTreeWidgetItem *> taken;
        taken.reserve(picked.size());
        for (int position : positions)
            taken.append(from.tree.takeTopLevelItem(position));
        to.tree.clearSelection();
        to.tree.setSortingEnabled(false);
        to.tree.addTopLevelItems(taken);
        for (QTreeWidgetItem *item : taken)
            item->setSelected(true);
        to.tree.setSortingEnabled(true);
        settle();
    }
    template <typename Pick> static void select(PeerList &list, Pick pick)
    {
        QItemSelection selection;
        QAbstractItemModel *model = list.tree.model();
        const int n = list.tree.topLevelItemCount();
        for (int i = 0; i < n; ++i) {
            if (pick(i, list.tree.topLevelItem(i)))
                selection.select(model->index(i, 0), model->index(i, 2));
        }
        list.tree.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        settle();
    }
    static void selectSpread(PeerList &list, int count)
    {
        const int n = list.tree.topLevelItemCount();
        select(list, [&](int i, QTreeWidgetItem *) { return spreadMark(i, n, count); });
    }
};

inline QStringList idsOf(const PeerList &list)
{
    QStringList ids;
    for (int i = 0; i < list.tree.topLevelItemCount(); ++i)
        ids.append(list.tree.topLevelItem(i)->text(0));
    return ids;
}

} // namespace kvecompare
