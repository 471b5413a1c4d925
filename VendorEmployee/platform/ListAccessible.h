#pragma once

// What assistive technology reads of a ListView: a table of the columns the view shows, one
// cell per shown column and row, under a row of column headers. A hidden column is no part of
// it, so the model may hold more columns than a screen reader announces.

#include <QAccessibleWidget>
#include <QHash>

namespace KavriVendorEmp::platform {

class ListView;

class ListAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit ListAccessible(ListView *view);
    ~ListAccessible() override;
    Q_DISABLE_COPY(ListAccessible)

    /// Makes queryAccessibleInterface answer with this class for every ListView.
    static void installFactory();

    ListView *view() const;
    /// The logical model columns the view shows, in their visual order.
    QList<int> shownColumns() const;
    /// The child index of the cell at a model row and a shown column (row -1: the header).
    int childIndex(int row, int column) const;

    // QAccessibleInterface
    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    int columnCount() const override;
    QString rowDescription(int) const override { return {}; }
    int rowCount() const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    // Selection belongs to the user's input and the control's rules, not to the reader.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *event) override;

private:
    QAccessibleInterface *cell(int row, int column) const; // row -1: the header
    void dropCells();

    mutable QHash<quint64, QAccessible::Id> m_cells;
};

} // namespace KavriVendorEmp::platform
