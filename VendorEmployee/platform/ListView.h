#pragma once

#include <QString>
#include <QTreeView>

QT_BEGIN_NAMESPACE
class QMimeData;
QT_END_NAMESPACE

#include <functional>
#include <memory>
#include <vector>

namespace KavriVendorEmp::platform {

class ListModel;
class ListView;
struct ListRow;
struct ListViewPrivate;

/// A handle to one row of a ListView. Stays valid, and keeps naming the same row, while that row
/// is in its list, whatever re-sorting or removal of other rows happens. A default-constructed
/// handle names no row ("nothing"); using it throws std::logic_error.
class ListItem
{
public:
    ListItem() = default;
    ListItem(const ListItem &other);
    ListItem(ListItem &&other) noexcept;
    ListItem &operator=(const ListItem &other);
    ListItem &operator=(ListItem &&other) noexcept;
    ~ListItem();

    bool isNull() const { return m_row == nullptr; }
    explicit operator bool() const { return m_row != nullptr; }
    bool operator==(const ListItem &other) const { return m_row == other.m_row; }

    QString Text() const;
    void setText(const QString &text);
    /// n = 1 to ListView::ColumnCount - 1, any other n throws std::out_of_range; a sub-item never
    /// set reads as the empty text.
    QString SubItems(int n) const;
    void setSubItems(int n, const QString &value);
    /// setSubItems(n, SubItems(n) + unit), and setSubItems(n, SubItems(n).chopped(1)) (nothing for
    /// an empty sub-item). Inside a BulkUpdate they change the text where it lies, without a copy.
    void appendToSubItem(int n, QChar unit);
    void chopSubItem(int n);
    bool Selected() const;
    /// Marks or unmarks the row. Marking also makes it the list's current row; while the list's
    /// MultiSelect is off it leaves the row the only selected one.
    void setSelected(bool selected);
    /// Scrolls the list until the row shows.
    void EnsureVisible();

private:
    friend class ListView;
    friend class ListModel;
    // Shares the row: a handle keeps the row's memory alive, so a handle to a row that has left
    // its list (or whose list is gone) throws std::logic_error instead of reading freed memory.
    explicit ListItem(ListRow *row);
    ListRow &row() const;

    ListRow *m_row = nullptr;
};

/// A report-style list view: rows of (text, sub-item 1, sub-item 2) shown as three columns, kept
/// sorted by SortKey / SortOrder at all times (texts compared as strings: case-insensitively,
/// then case-sensitively, code unit by code unit, so digit strings order by plain character
/// order; ties in insertion order, in either direction). Positions are 1-based. Built for tens of
/// thousands of rows: sorting is lazy, selection marks live on the rows, and work inside a
/// BulkUpdate reaches the view as one update.
///
/// Operations on a position that does not exist throw std::out_of_range.
class ListView : public QTreeView
{
    Q_OBJECT

public:
    /// The columns of every row: its text, then its sub-items.
    static constexpr int ColumnCount = 3;

    explicit ListView(QWidget *parent = nullptr);
    ~ListView() override;

    // ListItems
    int Count() const;
    /// Adds a row with that text and no sub-items, at its sorted place; returns it.
    ListItem Add(const QString &text);
    /// Adds a row with the text and sub-items of `row` (a row of this list or of another), at its
    /// sorted place; returns it. The same as Add and two setSubItems, for less: the sort keys
    /// come with the texts.
    ListItem AddCopy(const ListItem &row);
    void Remove(int position);
    /// Moves the rows at `positions` of `source`, another list, here: the same as AddCopy of
    /// each, in the order given, then Remove of each from the last down (so the source's current
    /// row moves on as Remove moves it), at the cost of moving pointers. Positions are 1-based
    /// and strictly ascending; the rows arrive unselected. Returns them in the order given. A row
    /// that a handle still names is copied instead, so that the handle still names a row that
    /// left its list. Both lists reach their views as one update each.
    std::vector<ListItem> TakeRows(ListView *source, const std::vector<int> &positions);
    ListItem Item(int position);
    /// The positions of the selected rows, ascending: a walk of Item(i).Selected() without a
    /// handle per row.
    std::vector<int> selectedPositions();
    void Clear();
    /// Makes room for `rows` more rows, so that adding that many does not grow the list's
    /// storage step by step. Changes nothing that can be seen.
    void reserve(int rows);

    /// The current row: nothing in an empty list, otherwise a row (also right after rows were
    /// added to an empty list).
    ListItem SelectedItem();

    bool MultiSelect() const;
    void setMultiSelect(bool on);

    /// The first row, in the current order, whose text equals `text` exactly; nothing if none.
    ListItem FindItem(const QString &text);
    /// The 1-based position of the row in this list, or 0 when the list does not hold it.
    /// O(log n), unlike a walk of Item(i).
    int indexOf(const ListItem &item);

    /// 0 = row text, n = SubItems(n); other values throw std::out_of_range.
    int SortKey() const;
    void setSortKey(int key);
    /// 0 ascending, 1 descending; other values throw std::out_of_range.
    int SortOrder() const;
    void setSortOrder(int order);

    void SetFocus();

    /// A short note on a row, which every column of the row gives as its
    /// Qt::AccessibleDescriptionRole (an empty note: none). The row's texts stay as they are.
    using RowNote = std::function<QString(const ListItem &row)>;
    void setRowNote(RowNote note);

    /// ColumnHeaders.Add(, , text, width): width in twips, fractions kept.
    void addColumnHeader(const QString &text, double widthTwips);
    int columnHeaderCount() const;
    QString columnHeaderText(int index) const; // 1-based
    double columnHeaderWidth(int index) const; // 1-based, twips
    /// The list's own width in twips.
    int widthTwips() const;
    /// Twips per pixel become 15 / zoom: the column headers' widths follow, and widthTwips and
    /// MouseUp keep speaking design twips.
    void setZoom(qreal zoom);

    // The column policy is the owner's: the list gives its columns no meaning.
    /// Keeps `column` in the model but never shows it: hidden, of no width, not resizable; a
    /// column header added for it sets no width.
    void hideColumnForGood(int column);
    /// Shows the sort indicator of `key` on header section `section` instead of the key's own
    /// column: for a key that orders a column other than its own.
    void setSortIndicatorSection(int key, int section);

    /// While one is alive, changes are gathered and reach the view as one update when the
    /// outermost one ends (a model reset, then the selection and the current row re-synced from
    /// the rows' marks). Nesting is allowed. Bulk work (a load, a move of many rows) belongs in
    /// one: outside it every add, removal and mark change is its own model signal, and Qt
    /// revisits every persistent index (each selected range holds two) on each removal.
    /// The MIME type of a drag of rows out of a list; its data is the source list's objectName
    /// in UTF-8. A list accepts a drop of it from any list but itself.
    static QString dragMimeType();
    /// The source list a drag's data names, or the empty string when it is not a drag of rows.
    static QString dragSource(const QMimeData *data);

    /// Type-ahead: from the row after the current one (the current one while the typed prefix
    /// grows), the next row whose text or sub-item 1 starts with `search`, case-insensitively,
    /// becomes the current and only selected row.
    void keyboardSearch(const QString &search) override;

    class BulkUpdate
    {
    public:
        explicit BulkUpdate(ListView *view);
        ~BulkUpdate();
        Q_DISABLE_COPY(BulkUpdate)

    private:
        ListView *m_view;
    };

Q_SIGNALS:
    /// A left click inside the viewport (on a row or not), after it changed the selection.
    void Click();
    void DblClick();
    /// A click on a header section; index is 1-based.
    void ColumnClick(int index);
    /// Every mouse-button release over the list. button: 1 left, 2 right, 4 middle;
    /// shift: 1 Shift, 2 Ctrl, 4 Alt; x and y in twips.
    void MouseUp(int button, int shift, int x, int y);
    /// Every key press, before the list handles it; key is a Qt::Key, shift as for MouseUp. The
    /// list itself does nothing with Enter, Return, Delete, the menu key and Shift+F10: they are
    /// the control's, and never travel on to the list's parents.
    void KeyDown(int key, int shift);
    /// A key press (navigation, Shift/Ctrl selection, type-ahead) changed the selection or the
    /// current row; also before a Shift or Ctrl selection key acts while MultiSelect is off, so
    /// that the receiver can switch it on for the key.
    void KeySelect();
    /// A drag of rows from the list named `source` was dropped here.
    void DragDrop(const QString &source);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    /// Paints a row as QTreeView does, with the selection read from the rows' marks: the
    /// selection model answers each cell by walking every selected range, which made repainting
    /// a list of thousands of separately selected rows cost milliseconds.
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                 const QModelIndex &index) const override;

private:
    void showSortIndicator();
    // Sends assistive technology a focus event for the current row, once, after the event that
    // is running, if the list then has the focus.
    void announceCurrentRow();
    int sectionPixels(int section) const;

    friend class ListItem;
    friend class ListModel;
    std::unique_ptr<ListModel> m_model;
    std::unique_ptr<ListViewPrivate> d; // the view's own state, apart from its model
};

} // namespace KavriVendorEmp::platform
