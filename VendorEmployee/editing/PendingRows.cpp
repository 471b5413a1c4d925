#include "control/VendorEmployee_p.h"

#include "editing/ChangeCode.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>

namespace KavriVendorEmp {

namespace {

const QString pendingLink = QStringLiteral("pending link");
const QString pendingUnlink = QStringLiteral("pending unlink");

// A pending row is drawn in italics, its ID beside a mark: a plus for a pending link, a cross for
// a pending unlink. The mark takes the colour of the row's text, so it reads wherever the text
// reads (light, dark and high-contrast palettes, selected or not); shape and slant, not colour,
// tell the rows apart. Unchanged rows are left entirely to the base class.
class PendingRowDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const QString note = index.data(Qt::AccessibleDescriptionRole).toString();
        if (note != pendingLink && note != pendingUnlink) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        opt.font.setItalic(true);
        opt.fontMetrics = QFontMetrics(opt.font);
        if (index.column() != 0) {
            QStyledItemDelegate::paint(painter, opt, index);
            return;
        }

        const QWidget *widget = option.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        // The cell's background under the mark, then the ID moved over by the mark's width.
        QStyleOptionViewItem background = opt;
        initStyleOption(&background, index);
        background.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int side = std::max(5, opt.fontMetrics.height() * 5 / 8);
        const QRect cell = opt.rect;
        const QRect mark = QStyle::visualRect(
            opt.direction, cell,
            QRect(cell.left() + margin, cell.center().y() - side / 2, side, side));
        if (opt.direction == Qt::RightToLeft)
            opt.rect.setRight(cell.right() - margin - side);
        else
            opt.rect.setLeft(cell.left() + margin + side);
        QStyledItemDelegate::paint(painter, opt, index);
        drawMark(painter, opt, mark, note == pendingLink);
    }

private:
    static void drawMark(QPainter *painter, const QStyleOptionViewItem &opt, const QRectF &box,
                         bool link)
    {
        QPalette::ColorGroup group = QPalette::Disabled;
        if (opt.state & QStyle::State_Enabled)
            group = opt.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QColor colour = opt.palette.color(
            group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);

        const qreal width = std::max<qreal>(1.5, box.width() / 5.0);
        const QRectF r = box.adjusted(width / 2, width / 2, -width / 2, -width / 2);
        QPainterPath path;
        if (link) {
            path.moveTo(r.left(), r.center().y());
            path.lineTo(r.right(), r.center().y());
            path.moveTo(r.center().x(), r.top());
            path.lineTo(r.center().x(), r.bottom());
        } else {
            const QRectF x =
                r.adjusted(r.width() / 8, r.height() / 8, -r.width() / 8, -r.height() / 8);
            path.moveTo(x.topLeft());
            path.lineTo(x.bottomRight());
            path.moveTo(x.bottomLeft());
            path.lineTo(x.topRight());
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        painter->drawPath(path);
        painter->restore();
    }
};

QString commitTip(int links, int unlinks)
{
    const auto employees = [](int n) {
        return n == 1 ? QStringLiteral("employee") : QStringLiteral("employees");
    };
    if (unlinks == 0)
        return QStringLiteral("Link %1 %2").arg(links).arg(employees(links));
    if (links == 0)
        return QStringLiteral("Unlink %1 %2").arg(unlinks).arg(employees(unlinks));
    return QStringLiteral("Link %1 and unlink %2 %3")
        .arg(links)
        .arg(unlinks)
        .arg(employees(unlinks));
}

} // namespace

void VendorEmployeePrivate::setUpPendingRows()
{
    // What a non-numeric code means is decided by the list the row lies in.
    lstSelectedEmployees->setRowNote([](const ListItem &row) {
        return ChangeCode::isNumeric(row.SubItems(2)) ? QString() : pendingLink;
    });
    lstEmployees->setRowNote([](const ListItem &row) {
        return ChangeCode::isNumeric(row.SubItems(2)) ? QString() : pendingUnlink;
    });
    for (ListView *list : {lstEmployees, lstSelectedEmployees})
        list->setItemDelegate(new PendingRowDelegate(list));
    m_idleCommitTip = cmdCommit->toolTip();
}

void VendorEmployeePrivate::countMove(const ListView *target, const MovedRows &moved)
{
    int links = 0;
    int unlinks = 0;
    for (std::size_t k = 0; k < moved.rows.size(); ++k) {
        const int before = moved.pendingBefore(k) ? 1 : 0;
        const int after = moved.pendingAfter(k) ? 1 : 0;
        if (target == lstSelectedEmployees) {
            links += after;
            unlinks -= before;
        } else {
            unlinks += after;
            links -= before;
        }
    }
    m_pendingLinks += links;
    m_pendingUnlinks += unlinks;
}

void VendorEmployeePrivate::settlePendingChanges()
{
    if (m_pendingLinks == m_shownLinks && m_pendingUnlinks == m_shownUnlinks)
        return;
    const int total = m_pendingLinks + m_pendingUnlinks;
    const bool totalChanged = total != m_shownLinks + m_shownUnlinks;
    m_shownLinks = m_pendingLinks;
    m_shownUnlinks = m_pendingUnlinks;
    const QString tip = total == 0 ? m_idleCommitTip : commitTip(m_pendingLinks, m_pendingUnlinks);
    cmdCommit->setToolTip(tip);
    cmdCommit->setAccessibleDescription(tip);
    if (totalChanged)
        Q_EMIT q->pendingChangesChanged(total);
}

} // namespace KavriVendorEmp
