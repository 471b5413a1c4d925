#include "platform/ListAccessible.h"

#include "platform/ListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QWindow>

#include <algorithm>

namespace KavriVendorEmp::platform {

namespace {

quint64 cellKey(int row, int column)
{
    return (quint64(quint32(row + 1)) << 32) | quint32(column);
}

// One cell, or a column header (row -1), named by its position: its texts are read afresh on
// every question, so a cell never reports a row that has since moved away.
class CellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    CellAccessible(ListView *view, int row, int column) : m_view(view), m_row(row), m_column(column)
    {
    }

    bool isValid() const override
    {
        return m_view && m_column < shown().size() && m_row < m_view->model()->rowCount();
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        const int logical = shown().at(m_column);
        if (m_row < 0) {
            return t == QAccessible::Name
                       ? m_view->model()->headerData(logical, Qt::Horizontal).toString()
                       : QString();
        }
        const QModelIndex index = m_view->model()->index(m_row, logical);
        switch (t) {
        case QAccessible::Name:
            return index.data(Qt::DisplayRole).toString();
        case QAccessible::Description:
            return index.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const int logical = shown().at(m_column);
        QHeaderView *header = m_view->header();
        if (m_row < 0) {
            const QRect r(header->sectionViewportPosition(logical), 0,
                          header->sectionSize(logical), header->height());
            return QRect(header->viewport()->mapToGlobal(r.topLeft()), r.size());
        }
        const QRect r = m_view->visualRect(m_view->model()->index(m_row, logical));
        return QRect(m_view->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::Role role() const override
    {
        return m_row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid())
            return s;
        const QRect shownRect = m_view->viewport()->rect();
        if (m_row >= 0) {
            const QModelIndex index = m_view->model()->index(m_row, shown().at(m_column));
            s.selectable = true;
            s.focusable = true;
            s.multiSelectable = m_view->selectionMode() == QAbstractItemView::ExtendedSelection;
            s.extSelectable = s.multiSelectable;
            s.selected = isSelected();
            s.focused = m_view->hasFocus() && m_view->currentIndex().row() == m_row;
            s.active = s.focused;
            s.invisible = !shownRect.intersects(m_view->visualRect(index));
            s.offscreen = s.invisible;
        }
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface *>(this)
                   : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override
    {
        return m_row >= 0 && isValid() && m_view->selectionModel()->isRowSelected(m_row);
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        QAccessibleTableInterface *t = tableInterface();
        if (!t || m_row < 0)
            return {};
        return {static_cast<ListAccessible *>(t)->child(m_column)};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    QList<int> shown() const
    {
        auto *table = static_cast<ListAccessible *>(parent());
        return table ? table->shownColumns() : QList<int>();
    }
    QAccessibleTableInterface *tableInterface() const
    {
        QAccessibleInterface *p = parent();
        return p ? p->tableInterface() : nullptr;
    }

    QPointer<ListView> m_view;
    int m_row;
    int m_column;
};

QAccessibleInterface *listFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(ListView::staticMetaObject.className())) {
        if (auto *view = qobject_cast<ListView *>(object))
            return new ListAccessible(view);
    }
    return nullptr;
}

} // namespace

ListAccessible::ListAccessible(ListView *view) : QAccessibleWidget(view, QAccessible::Table) {}

ListAccessible::~ListAccessible()
{
    dropCells();
}

void ListAccessible::installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(listFactory);
        return true;
    }();
    Q_UNUSED(installed);
}


ListView *ListAccessible::view() const
{
    return static_cast<ListView *>(widget());
}

QList<int> ListAccessible::shownColumns() const
{
    QList<int> columns;
    const QHeaderView *header = view()->header();
    const int count = view()->model() ? view()->model()->columnCount() : 0;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (logical < count && !header->isSectionHidden(logical))
            columns.append(logical);
    }
    return columns;
}

int ListAccessible::childIndex(int row, int column) const
{
    return (row + 1) * int(shownColumns().size()) + column;
}

void *ListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::Role ListAccessible::role() const
{
    return QAccessible::Table;
}

int ListAccessible::childCount() const
{
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface *ListAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0 || index >= childCount())
        return nullptr;
    return cell(index / columns - 1, index % columns);
}

int ListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (!child || child->parent() != this)
        return -1;
    const QAccessibleTableCellInterface *c =
        const_cast<QAccessibleInterface *>(child)->tableCellInterface();
    if (!c)
        return -1;
    return child->role() == QAccessible::ColumnHeader ? c->columnIndex()
                                                       : childIndex(c->rowIndex(), c->columnIndex());
}

QAccessibleInterface *ListAccessible::childAt(int x, int y) const
{
    const QPoint inViewport = view()->viewport()->mapFromGlobal(QPoint(x, y));
    const QModelIndex index = view()->indexAt(inViewport);
    if (!index.isValid())
        return nullptr;
    const int column = int(shownColumns().indexOf(index.column()));
    return column < 0 ? nullptr : cell(index.row(), column);
}

QAccessibleInterface *ListAccessible::focusChild() const
{
    const QModelIndex current = view()->currentIndex();
    if (!view()->hasFocus() || !current.isValid())
        return nullptr;
    return cell(current.row(), 0);
}

QAccessibleInterface *ListAccessible::cellAt(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return nullptr;
    return cell(row, column);
}

int ListAccessible::selectedCellCount() const
{
    return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface *> ListAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    const int columns = columnCount();
    for (const int row : selectedRows()) {
        for (int column = 0; column < columns; ++column)
            cells.append(cell(row, column));
    }
    return cells;
}

QString ListAccessible::columnDescription(int column) const
{
    const QList<int> columns = shownColumns();
    if (column < 0 || column >= columns.size())
        return {};
    return view()->model()->headerData(columns.at(column), Qt::Horizontal).toString();
}

int ListAccessible::columnCount() const
{
    return int(shownColumns().size());
}

int ListAccessible::rowCount() const
{
    return view()->model() ? view()->model()->rowCount() : 0;
}

int ListAccessible::selectedRowCount() const
{
    return int(view()->selectionModel()->selectedRows().size());
}

QList<int> ListAccessible::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : view()->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ListAccessible::isRowSelected(int row) const
{
    return row >= 0 && row < rowCount() && view()->selectionModel()->isRowSelected(row);
}

void ListAccessible::modelChange(QAccessibleTableModelChangeEvent *)
{
    dropCells();
}

QAccessibleInterface *ListAccessible::cell(int row, int column) const
{
    const quint64 key = cellKey(row, column);
    if (const QAccessible::Id id = m_cells.value(key))
        return QAccessible::accessibleInterface(id);
    auto *iface = new CellAccessible(view(), row, column);
    m_cells.insert(key, QAccessible::registerAccessibleInterface(iface));
    return iface;
}

void ListAccessible::dropCells()
{
    for (const QAccessible::Id id : std::as_const(m_cells))
        QAccessible::deleteAccessibleInterface(id);
    m_cells.clear();
}

} // namespace KavriVendorEmp::platform
