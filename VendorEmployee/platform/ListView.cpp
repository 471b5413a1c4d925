#include "platform/ListView.h"

#include <QAbstractTableModel>
#include <QHeaderView>

#include <stdexcept>

namespace KavriVendorEmp::platform {

// Not built yet: a placeholder until the list view lands.
struct ListRow
{
    QString text;
};

class ListModel : public QAbstractTableModel
{
public:
    int rowCount(const QModelIndex & = {}) const override { return 0; }
    int columnCount(const QModelIndex & = {}) const override { return 3; }
    QVariant data(const QModelIndex &, int) const override { return {}; }
    QStringList headers;
    QList<double> widths;
};

ListRow &ListItem::row() const
{
    if (!m_row)
        throw std::logic_error("no row");
    return *m_row;
}
QString ListItem::Text() const { return row().text; }
void ListItem::setText(const QString &text) { row().text = text; }
QString ListItem::SubItems(int) const { return {}; }
void ListItem::setSubItems(int, const QString &) {}
bool ListItem::Selected() const { return false; }
void ListItem::setSelected(bool) {}
void ListItem::EnsureVisible() {}

ListView::ListView(QWidget *parent) : QTreeView(parent), m_model(std::make_unique<ListModel>())
{
    setModel(m_model.get());
}
ListView::~ListView() = default;
int ListView::Count() const { return 0; }
ListItem ListView::Add(const QString &) { return {}; }
void ListView::Remove(int) { throw std::out_of_range("position"); }
ListItem ListView::Item(int) { throw std::out_of_range("position"); }
void ListView::Clear() {}
ListItem ListView::SelectedItem() { return {}; }
bool ListView::MultiSelect() const { return false; }
void ListView::setMultiSelect(bool) {}
ListItem ListView::FindItem(const QString &) { return {}; }
int ListView::SortKey() const { return 0; }
void ListView::setSortKey(int) {}
int ListView::SortOrder() const { return 0; }
void ListView::setSortOrder(int) {}
void ListView::SetFocus() { setFocus(); }
void ListView::addColumnHeader(const QString &text, double widthTwips)
{
    m_model->headers.append(text);
    m_model->widths.append(widthTwips);
}
int ListView::columnHeaderCount() const { return int(m_model->headers.size()); }
QString ListView::columnHeaderText(int index) const { return m_model->headers.value(index - 1); }
double ListView::columnHeaderWidth(int index) const { return m_model->widths.value(index - 1); }
int ListView::widthTwips() const { return width() * 15; }
ListView::BulkUpdate::BulkUpdate(ListView *view) : m_view(view) {}
ListView::BulkUpdate::~BulkUpdate() = default;
void ListView::mousePressEvent(QMouseEvent *event) { QTreeView::mousePressEvent(event); }
void ListView::mouseReleaseEvent(QMouseEvent *event) { QTreeView::mouseReleaseEvent(event); }
void ListView::mouseDoubleClickEvent(QMouseEvent *event) { QTreeView::mouseDoubleClickEvent(event); }

} // namespace KavriVendorEmp::platform
