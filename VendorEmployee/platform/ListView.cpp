#include "platform/ListView.h"

#include "platform/ListAccessible.h"
#include "platform/ListModel.h"
#include "platform/ListView_p.h"
#include "platform/RowLook.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <stdexcept>
#include <utility>

namespace KavriVendorEmp::platform {

namespace {

constexpr double twipsPerPixel = 15.0;

} // namespace

// ListItem

ListItem::ListItem(ListRow *row) : m_row(row)
{
    retain(m_row);
}
ListItem::ListItem(const ListItem &other) : m_row(other.m_row)
{
    retain(m_row);
}
ListItem::ListItem(ListItem &&other) noexcept : m_row(std::exchange(other.m_row, nullptr)) {}
ListItem &ListItem::operator=(const ListItem &other)
{
    retain(other.m_row);
    release(std::exchange(m_row, other.m_row));
    return *this;
}
ListItem &ListItem::operator=(ListItem &&other) noexcept
{
    if (this != &other)
        release(std::exchange(m_row, std::exchange(other.m_row, nullptr)));
    return *this;
}
ListItem::~ListItem()
{
    release(m_row);
}

ListRow &ListItem::row() const
{
    if (!m_row)
        throw std::logic_error("ListItem: no row");
    if (!m_row->owner)
        throw std::logic_error("ListItem: the row is no longer in its list");
    return *m_row;
}

QString ListItem::Text() const
{
    return row().text;
}

void ListItem::setText(const QString &text)
{
    ListRow &r = row();
    r.owner->setColumnText(&r, 0, text);
}

namespace {

void checkSubItem(int n)
{
    if (n < 1 || n >= ListView::ColumnCount)
        throw std::out_of_range("SubItems: no sub-item with that index");
}

} // namespace

QString ListItem::SubItems(int n) const
{
    checkSubItem(n);
    return row().subItems[n - 1];
}

void ListItem::setSubItems(int n, const QString &value)
{
    checkSubItem(n);
    ListRow &r = row();
    r.owner->setColumnText(&r, n, value);
}

void ListItem::appendToSubItem(int n, QChar unit)
{
    checkSubItem(n);
    ListRow &r = row();
    r.owner->changeColumnEnd(&r, n, unit, true);
}

void ListItem::chopSubItem(int n)
{
    checkSubItem(n);
    ListRow &r = row();
    r.owner->changeColumnEnd(&r, n, {}, false);
}

bool ListItem::Selected() const
{
    return row().selected;
}

void ListItem::setSelected(bool selected)
{
    ListRow &r = row();
    r.owner->setSelected(&r, selected);
}

void ListItem::EnsureVisible()
{
    ListRow &r = row();
    r.owner->ensureVisible(&r);
}

// ListView

ListView::ListView(QWidget *parent)
    : QTreeView(parent), m_model(std::make_unique<ListModel>(this)),
      d(std::make_unique<ListViewPrivate>())
{
    ListAccessible::installFactory();
    setModel(m_model.get());
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    // The header only reports clicks; the control decides the order.
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setStretchLastSection(false);
    for (int key = 0; key < ColumnCount; ++key)
        d->indicatorSection[key] = key;
    showSortIndicator();
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(false);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                m_model->userSelectionChanged(selected, deselected);
            });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { m_model->userCurrentChanged(current); });
    connect(header(), &QHeaderView::sectionClicked, this, [this](int logical) {
        Q_EMIT ColumnClick(logical + 1);
        // The header flips its own indicator on a click; it shows the list's order instead.
        showSortIndicator();
    });
}

ListView::~ListView()
{
    // Handles may outlive the list; they then throw rather than reach a model that is gone.
    disconnect(selectionModel(), nullptr, this, nullptr);
    setModel(nullptr);
}

int ListView::Count() const
{
    return int(m_model->count());
}

ListItem ListView::Add(const QString &text)
{
    return ListItem(m_model->add(text));
}

ListItem ListView::AddCopy(const ListItem &row)
{
    return ListItem(m_model->addCopy(row.row()));
}

std::vector<ListItem> ListView::TakeRows(ListView *source, const std::vector<int> &positions)
{
    if (!source || source == this)
        throw std::invalid_argument("TakeRows: the rows must come from another list");
    const int count = source->Count();
    int previous = 0;
    for (const int position : positions) {
        if (position <= previous || position > count)
            throw std::out_of_range("TakeRows: positions must be ascending rows of the list");
        previous = position;
    }
    if (positions.empty())
        return {};
    const BulkUpdate sourceUpdate(source);
    const BulkUpdate targetUpdate(this);
    std::vector<ListItem> items;
    items.reserve(positions.size());
    for (ListRow *row : m_model->takeFrom(*source->m_model, positions))
        items.push_back(ListItem(row));
    return items;
}

void ListView::Remove(int position)
{
    m_model->remove(m_model->checkedPosition(position));
}

ListItem ListView::Item(int position)
{
    return ListItem(m_model->item(m_model->checkedPosition(position)));
}

std::vector<int> ListView::selectedPositions()
{
    return m_model->selectedPositions();
}

void ListView::Clear()
{
    m_model->clear();
}

void ListView::reserve(int rows)
{
    m_model->reserve(std::max(0, rows));
}

ListItem ListView::SelectedItem()
{
    return ListItem(m_model->current());
}

bool ListView::MultiSelect() const
{
    return m_model->multiSelect;
}

void ListView::setMultiSelect(bool on)
{
    m_model->multiSelect = on;
    setSelectionMode(on ? ExtendedSelection : SingleSelection);
}

ListItem ListView::FindItem(const QString &text)
{
    return ListItem(m_model->find(text));
}

int ListView::indexOf(const ListItem &item)
{
    if (!item.m_row || item.m_row->owner != m_model.get())
        return 0;
    return int(m_model->positionOf(item.m_row)) + 1;
}

int ListView::SortKey() const
{
    return m_model->sortKey();
}

void ListView::setSortKey(int key)
{
    if (key < 0 || key >= ColumnCount)
        throw std::out_of_range("SortKey: no such column");
    m_model->setSort(key, m_model->sortOrder());
    showSortIndicator();
}

int ListView::SortOrder() const
{
    return m_model->sortOrder();
}

void ListView::setSortOrder(int order)
{
    if (order != 0 && order != 1)
        throw std::out_of_range("SortOrder: 0 or 1");
    m_model->setSort(m_model->sortKey(), order);
    showSortIndicator();
}

void ListView::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

void ListView::setRowNote(RowNote note)
{
    m_model->m_rowNote = std::move(note);
    viewport()->update();
}

void ListView::addColumnHeader(const QString &text, double widthTwips)
{
    m_model->m_headers.append(text);
    d->widths.append(widthTwips);
    const int section = int(m_model->m_headers.size()) - 1;
    if (section >= ColumnCount)
        return;
    Q_EMIT m_model->headerDataChanged(Qt::Horizontal, section, section);
    if (!isColumnHidden(section))
        header()->resizeSection(section, sectionPixels(section));
}

int ListView::sectionPixels(int section) const
{
    return qRound(d->widths.value(section) * d->zoom / twipsPerPixel);
}

void ListView::setZoom(qreal zoom)
{
    d->zoom = zoom;
    for (int section = 0; section < std::min(int(d->widths.size()), int(ColumnCount)); ++section) {
        if (!isColumnHidden(section))
            header()->resizeSection(section, sectionPixels(section));
    }
}

int ListView::columnHeaderCount() const
{
    return int(m_model->m_headers.size());
}
QString ListView::columnHeaderText(int index) const
{
    return m_model->m_headers.value(index - 1);
}
double ListView::columnHeaderWidth(int index) const
{
    return d->widths.value(index - 1);
}
int ListView::widthTwips() const
{
    return qRound(width() * twipsPerPixel / d->zoom);
}

void ListView::hideColumnForGood(int column)
{
    header()->setSectionResizeMode(column, QHeaderView::Fixed);
    header()->resizeSection(column, 0);
    setColumnHidden(column, true);
}

void ListView::setSortIndicatorSection(int key, int section)
{
    if (key < 0 || key >= ColumnCount)
        throw std::out_of_range("setSortIndicatorSection: no such key");
    d->indicatorSection[key] = section;
    showSortIndicator();
}

void ListView::showSortIndicator()
{
    header()->setSortIndicator(d->indicatorSection[SortKey()],
                               SortOrder() == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

ListView::BulkUpdate::BulkUpdate(ListView *view) : m_view(view)
{
    m_view->m_model->beginBulk();
}
ListView::BulkUpdate::~BulkUpdate()
{
    m_view->m_model->endBulk();
}

void ListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        d->leftPressed = true;
        d->doubleClicked = false;
    }
    QTreeView::mousePressEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);

    const QPoint pos = event->position().toPoint();
    bool click = false;
    if (event->button() == Qt::LeftButton) {
        click = d->leftPressed && !d->doubleClicked && viewport()->rect().contains(pos);
        d->leftPressed = d->doubleClicked = false;
    }

    int button = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        button = 1;
        break;
    case Qt::RightButton:
        button = 2;
        break;
    case Qt::MiddleButton:
        button = 4;
        break;
    default:
        break;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int shift = (modifiers & Qt::ShiftModifier ? 1 : 0) |
                      (modifiers & Qt::ControlModifier ? 2 : 0) |
                      (modifiers & Qt::AltModifier ? 4 : 0);
    if (button != 0)
        Q_EMIT MouseUp(button, shift, qRound(pos.x() * twipsPerPixel / d->zoom),
                       qRound(pos.y() * twipsPerPixel / d->zoom));
    if (click)
        Q_EMIT Click();
}

void ListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The base may replay the event as a press (a double-click off the pressed row); the flag is
    // set after it so that the replay does not clear it.
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        d->doubleClicked = true;
        Q_EMIT DblClick();
    }
}

void ListView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int shift = (modifiers & Qt::ShiftModifier ? 1 : 0) |
                      (modifiers & Qt::ControlModifier ? 2 : 0) |
                      (modifiers & Qt::AltModifier ? 4 : 0);
    const int key = event->key();
    Q_EMIT KeyDown(key, shift);
    // The base would pass Enter on to the parents, where a dialog's default button waits.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete ||
        key == Qt::Key_Menu || (key == Qt::Key_F10 && (modifiers & Qt::ShiftModifier))) {
        event->accept();
        return;
    }
    // Shift and Ctrl with a selection key mean to select several rows: a list still in single
    // selection hears of it first, so that it can allow them before the key acts.
    if (!MultiSelect() && (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) &&
        (event->matches(QKeySequence::SelectAll) || key == Qt::Key_Space || key == Qt::Key_Up ||
         key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End ||
         key == Qt::Key_PageUp || key == Qt::Key_PageDown))
        Q_EMIT KeySelect();
    const QModelIndex current = currentIndex();
    const QItemSelection selection = selectionModel()->selection();
    QTreeView::keyPressEvent(event);
    if (currentIndex() != current || selectionModel()->selection() != selection)
        Q_EMIT KeySelect();
}

void ListView::keyboardSearch(const QString &search)
{
    const int rows = m_model->rowCount();
    if (search.isEmpty() || rows == 0)
        return;
    const bool continues =
        d->typedAt.isValid() && !d->typedAt.hasExpired(QApplication::keyboardInputInterval());
    d->typed = continues ? d->typed + search : search;
    d->typedAt.start();

    // The same letter typed again steps on to the next row starting with it.
    QString prefix = d->typed;
    const bool repeated = prefix.size() > 1 && prefix.count(prefix.front()) == prefix.size();
    if (repeated)
        prefix.truncate(1);
    const int here = currentIndex().isValid() ? currentIndex().row() : -1;
    const int first = continues && !repeated && here >= 0 ? here : here + 1;
    for (int i = 0; i < rows; ++i) {
        const int r = (first + i) % rows;
        const QModelIndex id = m_model->index(r, 0);
        if (id.data().toString().startsWith(prefix, Qt::CaseInsensitive) ||
            m_model->index(r, 1).data().toString().startsWith(prefix, Qt::CaseInsensitive)) {
            setCurrentIndex(id);
            scrollTo(id);
            return;
        }
    }
}

bool ListView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        d->hover = indexAt(static_cast<QHoverEvent *>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        d->hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QTreeView::viewportEvent(event);
}

void ListView::focusInEvent(QFocusEvent *event)
{
    QTreeView::focusInEvent(event);
    announceCurrentRow();
}

// QTreeView's own accessibility events count the hidden column among the cells: the events are
// sent here instead, in the terms of the table assistive technology reads (ListAccessible).
void ListView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QAbstractItemView::currentChanged(current, previous);
    // Whole rows show the focus: both rows repaint.
    for (const QModelIndex &index : {previous, current}) {
        if (index.isValid()) {
            const QRect cell = visualRect(index);
            viewport()->update(QRect(0, cell.y(), viewport()->width(), cell.height()));
        }
    }
    announceCurrentRow();
}

void ListView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!QAccessible::isActive())
        return;
    auto *iface = static_cast<ListAccessible *>(QAccessible::queryAccessibleInterface(this));
    if (!iface)
        return;
    const auto send = [&](const QItemSelection &range, QAccessible::Event type) {
        if (range.isEmpty() || range.first().top() >= m_model->rowCount())
            return;
        QAccessibleEvent event(this, type);
        event.setChild(iface->childIndex(range.first().top(), 0));
        QAccessible::updateAccessibility(&event);
    };
    send(selected, QAccessible::SelectionAdd);
    send(deselected, QAccessible::SelectionRemove);
}

// The focused row is announced once the event that moved it has run its course: a move or a
// load may change the current row several times, and removing rows from a list that then loses
// the focus to another must announce nothing at all.
void ListView::announceCurrentRow()
{
    if (!QAccessible::isActive() || d->focusPending)
        return;
    d->focusPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            d->focusPending = false;
            const QModelIndex current = currentIndex();
            if (!hasFocus() || !current.isValid())
                return;
            auto *iface =
                static_cast<ListAccessible *>(QAccessible::queryAccessibleInterface(this));
            if (!iface)
                return;
            QAccessibleEvent event(this, QAccessible::Focus);
            event.setChild(iface->childIndex(current.row(), 0));
            QAccessible::updateAccessibility(&event);
        },
        Qt::QueuedConnection);
}

// QTreeView::drawRow for rows without children, indentation or spanning, the only rows this
// view has; anything else is left to it.
void ListView::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                       const QModelIndex &index) const
{
    if (rootIsDecorated() || treePosition() != 0 || isFirstColumnSpanned(index.row(), {})) {
        QTreeView::drawRow(painter, option, index);
        return;
    }
    const QHeaderView *header = this->header();
    const int row = index.row();
    const int y = option.rect.y();
    const int height = option.rect.height();
    const bool selected = m_model->rowMarked(row);
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    const bool rowFocus =
        allColumnsShowFocus() && focused && current.isValid() && current.row() == row;
    const QModelIndex hover = d->hover;
    const bool hoverRow =
        selectionBehavior() == SelectRows && hover.isValid() && hover.row() == row;
    const bool enabled = option.state & QStyle::State_Enabled;

    QList<int> sections;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            sections.append(logical);
    }

    QStyleOptionViewItem opt = option;
    // The list without the focus shows its selection muted, so that only the focused list's
    // selection looks like the one keys act on.
    if (selected && !focused) {
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            opt.palette.setColor(group, QPalette::Highlight, mutedHighlight(option.palette, group));
            opt.palette.setColor(group, QPalette::HighlightedText,
                                 mutedHighlightedText(option.palette, group));
        }
    }
    // Whole rows are selected: the style is to fill the first column's decoration too.
    opt.showDecorationSelected = selectionBehavior() & SelectRows || option.showDecorationSelected;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const int section = sections[i];
        const QModelIndex cell = model()->index(row, section);
        if (!cell.isValid())
            continue;
        const int next = i + 1 < sections.size() ? sections[i + 1] : -1;
        const int previous = i > 0 ? sections[i - 1] : -1;
        if (header->count() == 1 || (next == 0 && previous == -1) || (section == 0 && next == -1))
            opt.viewItemPosition = QStyleOptionViewItem::OnlyOne;
        else if (section == 0 || (next != 0 && previous == -1))
            opt.viewItemPosition = QStyleOptionViewItem::Beginning;
        else if (next == 0 || next == -1)
            opt.viewItemPosition = QStyleOptionViewItem::End;
        else
            opt.viewItemPosition = QStyleOptionViewItem::Middle;

        opt.state = option.state;
        if (selected)
            opt.state |= QStyle::State_Selected;
        if (focused && !allColumnsShowFocus() && current == cell)
            opt.state |= QStyle::State_HasFocus;
        opt.state.setFlag(QStyle::State_MouseOver, hoverRow || cell == hover);
        if (enabled) {
            opt.palette.setCurrentColorGroup(opt.state & QStyle::State_Active ? QPalette::Active
                                                                              : QPalette::Inactive);
        }
        if (alternatingRowColors())
            opt.features.setFlag(QStyleOptionViewItem::Alternate, row & 1);

        const QStyle::State state = opt.state;
        opt.state &= ~QStyle::State_Selected;
        opt.rect.setRect(columnViewportPosition(section), y, header->sectionSize(section), height);
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &opt, painter, this);
        opt.state = state;
        itemDelegateForIndex(cell)->paint(painter, opt, cell);
    }

    if (rowFocus) {
        // A solid two-pixel frame round the whole row, in a colour that stands out from the
        // base and the highlight alike: the style's dotted focus rectangle all but vanishes.
        const QPalette::ColorGroup group = !enabled                           ? QPalette::Disabled
                                           : option.state & QStyle::State_Active ? QPalette::Active
                                                                                 : QPalette::Inactive;
        const int x = option.showDecorationSelected ? 0 : header->sectionPosition(0);
        const QRect row = style()
                              ->visualRect(layoutDirection(), viewport()->rect(),
                                           QRect(x - header->offset(), y, header->length() - x,
                                                 height))
                              .intersected(viewport()->rect());
        const QColor color = focusFrameColor(option.palette, group);
        constexpr int frame = 2;
        painter->fillRect(QRect(row.left(), row.top(), row.width(), frame), color);
        painter->fillRect(QRect(row.left(), row.bottom() - frame + 1, row.width(), frame), color);
        painter->fillRect(QRect(row.left(), row.top(), frame, row.height()), color);
        painter->fillRect(QRect(row.right() - frame + 1, row.top(), frame, row.height()), color);
    }
}

QString ListView::dragMimeType()
{
    return QStringLiteral("application/x-kavrivendoremp-rows");
}

QString ListView::dragSource(const QMimeData *data)
{
    if (!data || !data->hasFormat(dragMimeType()))
        return {};
    return QString::fromUtf8(data->data(dragMimeType()));
}

namespace {

// Whether `view` takes a drop of `data`: rows from another list, never its own.
bool takesDrop(const ListView *view, const QMimeData *data)
{
    const QString source = ListView::dragSource(data);
    return !source.isEmpty() && source != view->objectName();
}

void answerDrag(const ListView *view, QDropEvent *event)
{
    if (takesDrop(view, event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace

void ListView::dragEnterEvent(QDragEnterEvent *event)
{
    answerDrag(this, event);
}

void ListView::dragMoveEvent(QDragMoveEvent *event)
{
    answerDrag(this, event);
}

void ListView::dropEvent(QDropEvent *event)
{
    if (!takesDrop(this, event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    Q_EMIT DragDrop(dragSource(event->mimeData()));
}

} // namespace KavriVendorEmp::platform
