#pragma once

// The limit: the least code doing the same work.

#include "Harness.h"

#include <QAbstractTableModel>
#include <QTreeView>

#include <pugixml.hpp>

#include <algorithm>
#include <vector>

namespace kvecompare {

// ---------------------------------------------------------------------------------------------
// The limit: rows in a vector, one model reset per change, a QTreeView with uniform row heights
// whose selection model holds the selected rows.

struct Row
{
    QString id;
    QString name;
    QString code;
    bool selected = false;
};

inline bool byCode(const Row &a, const Row &b)
{
    return a.code < b.code;
}

class RowModel : public QAbstractTableModel
{
public:
    std::vector<Row> rows;

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : 3;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const Row &row = rows[std::size_t(index.row())];
        if (role != Qt::DisplayRole)
            return {};
        return index.column() == 0 ? row.id : index.column() == 1 ? row.name : row.code;
    }
    template <typename Change> void change(Change &&change)
    {
        beginResetModel();
        change(rows);
        endResetModel();
    }
};

struct LimitList
{
    RowModel model;
    QTreeView view;
    bool holdsSelected = false;
    explicit LimitList(bool selected = false)
        : holdsSelected(selected)
    {
        view.setUniformRowHeights(true);
        view.setRootIsDecorated(false);
        view.setModel(&model);
        view.resize(265, 185);
        view.show();
    }
    // The marked rows become the view's selection, as runs of adjacent rows: what the keyboard,
    // a drag and accessibility read. The reset that came with the change has cleared it.
    void showSelection()
    {
        QItemSelection selection;
        const auto &r = model.rows;
        for (std::size_t i = 0; i < r.size();) {
            if (!r[i].selected) {
                ++i;
                continue;
            }
            const std::size_t first = i;
            while (i < r.size() && r[i].selected)
                ++i;
            selection.append(
                QItemSelectionRange(model.index(int(first), 0), model.index(int(i - 1), 2)));
        }
        view.selectionModel()->select(selection, QItemSelectionModel::Select);
    }
};

struct Limit
{
    LimitList left;
    LimitList right{true};

    void load(const QString &url)
    {
        const QByteArray body = httpCall(url);
        pugi::xml_document doc;
        if (!doc.load_buffer(body.constData(), std::size_t(body.size())))
            throw std::runtime_error("not a document");
        const pugi::xml_node root = doc.child("VendorEmployees");
        for (LimitList *list : {&left, &right}) {
            std::vector<Row> rows;
            for (const pugi::xml_node e :
                 root.child(list == &left ? "NonSelectedEmployees" : "SelectedEmployees")
                     .children("Employee")) {
                const QString id = QString::fromUtf8(e.child("ID").text().get());
                rows.push_back(
                    {id, QString::fromUtf8(e.child("Name").text().get()), changeCode(id)});
            }
            std::stable_sort(rows.begin(), rows.end(), byCode);
            list->model.change([&](std::vector<Row> &r) { r = std::move(rows); });
        }
        settle();
    }
    // ">>" / "<<": the marked rows leave `from` and join `to`, still marked, in sorted order.
    static void move(LimitList &from, LimitList &to)
    {
        from.model.change([&](std::vector<Row> &source) {
            to.model.change([&](std::vector<Row> &target) {
                const auto moved = std::stable_partition(source.begin(), source.end(),
                                                         [](const Row &r) { return !r.selected; });
                // A moved row's code says whether it left its home list, as the control's does;
                // the suffix keeps each row's place in the order.
                for (auto row = moved; row != source.end(); ++row) {
                    const bool leavesHome = !row->code.back().isLetter();
                    row->code = changeCode(row->id);
                    if (leavesHome)
                        row->code += to.holdsSelected ? u'N' : u'D';
                }
                for (Row &row : target)
                    row.selected = false;
                const auto middle = std::ptrdiff_t(target.size());
                target.insert(target.end(), std::make_move_iterator(moved),
                              std::make_move_iterator(source.end()));
                source.erase(moved, source.end());
                std::inplace_merge(target.begin(), target.begin() + middle, target.end(), byCode);
            });
        });
        to.showSelection();
        settle();
    }
    template <typename Pick> static void select(LimitList &list, Pick pick)
    {
        list.model.change([&](std::vector<Row> &rows) {
            for (std::size_t i = 0; i < rows.size(); ++i)
                rows[i].selected = pick(int(i), rows[i]);
        });
        list.showSelection();
        settle();
    }
    static void selectSpread(LimitList &list, int count)
    {
        const int n = int(list.model.rows.size());
        select(list, [&](int i, const Row &) { return spreadMark(i, n, count); });
    }
};

inline QStringList idsOf(const LimitList &list)
{
    QStringList ids;
    for (const Row &row : list.model.rows)
        ids.append(row.id);
    return ids;
}

} // namespace kvecompare
