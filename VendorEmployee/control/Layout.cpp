#include "control/VendorEmployee_p.h"

#include "control/Conversions.h"
#include "platform/Widgets.h"

#include <KavriVendorEmp/Version.h>

#include <QAction>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>

namespace KavriVendorEmp {

namespace {

constexpr int twipsPerPixel = 15;

template <typename W> W *make(QWidget *parent, const char *name, const QString &caption = QString())
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    if constexpr (std::is_base_of_v<QGroupBox, W>) {
        widget->setTitle(caption);
    } else if constexpr (!std::is_same_v<W, QProgressBar> && !std::is_same_v<W, ListView> &&
                         !std::is_same_v<W, QLineEdit>) {
        widget->setText(caption);
    }
    return widget;
}

// The design's columns: the ID, the name four times as wide, and the change code, never shown.
void addEmployeeColumns(ListView *list, std::int16_t w)
{
    list->addColumnHeader(QStringLiteral("ID"), w / 5.0);
    list->addColumnHeader(QStringLiteral("Name"), toInt16(4 * w) / 5.0);
    list->addColumnHeader(QStringLiteral("ID"), 0);
}

// The change code column orders the ID column (its zero padding gives the IDs' numeric order)
// and is never shown: a list sorted by it shows its indicator on the ID column.
void setEmployeeColumnPolicy(ListView *list)
{
    list->hideColumnForGood(2);
    list->setSortIndicatorSection(2, 0);
}

// The list views' display option: whole-row selection, the natural choice for a report list.
void switchOnDisplayOption26(ListView *list)
{
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
}

// The design's fixed widths suit a compact face; a wider one would cut captions and the counts
// short, so the control steps its font down until the longest texts fit. A zoom scales the face
// it starts from and the smallest it goes to, as it scales the widths.
void fitDesignFont(QWidget *control, const QFont &designFont, qreal zoom,
                   std::initializer_list<std::pair<QWidget *, QString>> texts)
{
    const qreal smallestPointSize = 6.0 * zoom;
    QFont font = designFont;
    qreal size = (font.pointSizeF() > 0 ? font.pointSizeF() : 9.0) * zoom;
    if (zoom != 1.0)
        font.setPointSizeF(size);
    const auto fits = [&](const QFont &candidate) {
        const QFontMetrics metrics(candidate);
        for (const auto &[widget, text] : texts) {
            const QStyle *style = widget->style();
            int room = widget->width();
            if (qobject_cast<QRadioButton *>(widget))
                room -= style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                        style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
            else if (qobject_cast<QPushButton *>(widget))
                room -= 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, widget) + 4;
            if (metrics.horizontalAdvance(text) > room)
                return false;
        }
        return true;
    };
    while (size > smallestPointSize && !fits(font)) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    // The host's own face, untouched, stays inherited, so that it follows the host.
    if (font == designFont && !control->testAttribute(Qt::WA_SetFont))
        return;
    if (font != control->font() || !control->testAttribute(Qt::WA_SetFont))
        control->setFont(font == designFont ? QFont() : font);
}

} // namespace

// Positions and sizes of the design are in twips, relative to the container's top-left corner;
// 15 twips are one pixel at zoom 1. Edges are rounded rather than sizes, so that neighbours
// stay flush at any zoom.
void VendorEmployeePrivate::place(QWidget *widget, int left, int top, int width, int height)
{
    m_design.push_back({widget, QRect(left, top, width, height)});
    placeAtZoom(widget, m_design.back().twips);
}

void VendorEmployeePrivate::placeAtZoom(QWidget *widget, const QRect &twips)
{
    const auto pixel = [this](int t) { return qRound(t * m_zoom / twipsPerPixel); };
    const int x = pixel(twips.left());
    const int y = pixel(twips.top());
    widget->setGeometry(x, y, pixel(twips.left() + twips.width()) - x,
                        pixel(twips.top() + twips.height()) - y);
}

void VendorEmployeePrivate::fitFont()
{
    fitDesignFont(q, m_designFont, m_zoom,
                  {{lblAllVendors, QStringLiteral("Non Selected Active Employees (32767):")},
                   {lblSelVendors, QStringLiteral("Selected Employees (32767):")},
                   {cmdCommit, cmdCommit->text()},
                   {optList[0], optList[0]->text()},
                   {optList[1], optList[1]->text()},
                   {optFind[0], optFind[0]->text()},
                   {optFind[1], optFind[1]->text()}});
}

void VendorEmployeePrivate::setZoom(qreal zoom)
{
    if (!(zoom >= 1.0)) // NaN too
        zoom = 1.0;
    zoom = std::min(zoom, 3.0);
    if (zoom == m_zoom)
        return;
    m_zoom = zoom;
    for (const DesignRect &placed : m_design)
        placeAtZoom(placed.widget, placed.twips);
    for (ListView *list : {lstEmployees, lstSelectedEmployees})
        list->setZoom(zoom);
    fitFont();
    q->updateGeometry();
}

void VendorEmployeePrivate::createWidgets()
{
    m_designFont = q->font();

    fraMain = make<QGroupBox>(q, "fraMain");
    place(fraMain, 0, -90, 8745, 5310);

    cmdCommit = make<QPushButton>(fraMain, "cmdCommit", QStringLiteral("Commit to Database"));
    place(cmdCommit, 6945, 3675, 1680, 375);
    cmdRemoveAll = make<QPushButton>(fraMain, "cmdRemoveAll", QStringLiteral("<<"));
    place(cmdRemoveAll, 4065, 1710, 615, 375);
    cmdAddAll = make<QPushButton>(fraMain, "cmdAddAll", QStringLiteral(">>"));
    place(cmdAddAll, 4065, 1335, 615, 375);
    cmdAdd = make<QPushButton>(fraMain, "cmdAdd", QStringLiteral(">"));
    place(cmdAdd, 4065, 960, 615, 375);
    cmdDelete = make<QPushButton>(fraMain, "cmdDelete", QStringLiteral("<"));
    place(cmdDelete, 4065, 2085, 615, 375);
    for (QPushButton *button : {cmdCommit, cmdRemoveAll, cmdAddAll, cmdAdd, cmdDelete})
        button->setEnabled(false);

    fraFind = make<QGroupBox>(fraMain, "fraFind", QStringLiteral(" Find Employee"));
    place(fraFind, 120, 3120, 4575, 2055);

    Frame1 = make<QGroupBox>(fraFind, "Frame1", QStringLiteral(" List to search  "));
    place(Frame1, 135, 915, 2490, 825);
    optList[1] = make<QRadioButton>(Frame1, "optList(1)", QStringLiteral("Selected Employeess"));
    place(optList[1], 120, 555, 1920, 195);
    optList[0] = make<QRadioButton>(Frame1, "optList(0)", QStringLiteral("Non Selected Employees"));
    place(optList[0], 120, 225, 2100, 255);
    optListGroup = new QButtonGroup(Frame1);
    optListGroup->setObjectName(QStringLiteral("optList"));
    optListGroup->addButton(optList[0], 0);
    optListGroup->addButton(optList[1], 1);
    optList[0]->setChecked(true);
    optList[0]->setEnabled(false);
    optList[1]->setEnabled(false);

    cmdFind = make<QPushButton>(fraFind, "cmdFind", QStringLiteral("Find"));
    place(cmdFind, 2865, 1200, 975, 375);
    cmdFind->setEnabled(false);
    optFind[1] = make<QRadioButton>(fraFind, "optFind(1)", QStringLiteral("ID"));
    place(optFind[1], 135, 240, 735, 255);
    txtVendorID = make<QLineEdit>(fraFind, "txtVendorID");
    place(txtVendorID, 915, 255, 1095, 285);
    optFind[0] = make<QRadioButton>(fraFind, "optFind(0)", QStringLiteral("Name"));
    place(optFind[0], 135, 600, 765, 255);
    txtVendorName = make<QLineEdit>(fraFind, "txtVendorName");
    place(txtVendorName, 915, 615, 3330, 285);
    optFindGroup = new QButtonGroup(fraFind);
    optFindGroup->setObjectName(QStringLiteral("optFind"));
    optFindGroup->addButton(optFind[0], 0);
    optFindGroup->addButton(optFind[1], 1);
    optFind[1]->setChecked(true);
    optFind[0]->setEnabled(false);
    optFind[1]->setEnabled(false);
    txtVendorID->setEnabled(false);
    for (QLineEdit *box : {txtVendorID, txtVendorName}) {
        box->setReadOnly(true);
        platform::setBackColor(box, platform::vbButtonFace);
    }
    lblVersionNumber = make<QLabel>(fraFind, "lblVersionNumber", QStringLiteral("Version Number:"));
    place(lblVersionNumber, 150, 1770, 2175, 255);

    prbLoad = make<QProgressBar>(fraMain, "prbLoad");
    place(prbLoad, 4785, 4395, 3870, 255);
    prbLoad->setRange(0, 100);
    prbLoad->setValue(0);
    prbLoad->setTextVisible(false);

    lstEmployees = make<ListView>(fraMain, "lstEmployees");
    place(lstEmployees, 105, 360, 3975, 2775);
    lstSelectedEmployees = make<ListView>(fraMain, "lstSelectedEmployees");
    place(lstSelectedEmployees, 4650, 360, 3975, 2775);
    for (ListView *list : {lstEmployees, lstSelectedEmployees})
        setEmployeeColumnPolicy(list);

    lblAllVendors =
        make<QLabel>(fraMain, "lblAllVendors", QStringLiteral("Non Selected Active Empolyees:"));
    place(lblAllVendors, 150, 150, 3105, 255);
    lblSelVendors = make<QLabel>(fraMain, "lblSelVendors", QStringLiteral("Selected Empolyees:"));
    place(lblSelVendors, 4710, 150, 2175, 255);

    Inet1 = new platform::Inet(q);
    Inet1->setObjectName(QStringLiteral("Inet1"));

    // A popup only: it never sits in a menu bar.
    mnuRemove = new QMenu(QStringLiteral("Remove"), q);
    mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    mnuRemoveItems = mnuRemove->addAction(QStringLiteral("Remove"));
    mnuRemoveItems->setObjectName(QStringLiteral("mnuRemoveItems"));

    fitFont();

    // The design's tab order, for the widgets that take focus.
    QWidget *const order[] = {txtVendorName, optFind[0],          txtVendorID,  optFind[1],
                              cmdFind,       optList[0],          optList[1],   cmdDelete,
                              cmdAdd,        cmdAddAll,           cmdRemoveAll, cmdCommit,
                              lstEmployees,  lstSelectedEmployees};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void VendorEmployeePrivate::UserControl_Initialize()
{
    switchOnDisplayOption26(lstSelectedEmployees);
    addEmployeeColumns(lstSelectedEmployees, toInt16(lstSelectedEmployees->widthTwips()));

    const std::int16_t w = toInt16(lstEmployees->widthTwips());
    switchOnDisplayOption26(lstEmployees);
    addEmployeeColumns(lstEmployees, w);

    lblVersionNumber->setText(QStringLiteral("Version Number: %1.%2.%3")
                                  .arg(versionMajor)
                                  .arg(versionMinor)
                                  .arg(versionRevision));
}

} // namespace KavriVendorEmp
