#include "platform/ListView.h"
#include "platform/Widgets.h"

#include <KavriVendorEmp/VendorEmployee.h>
#include <KavriVendorEmp/Version.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace KavriVendorEmp;
using platform::ListView;

namespace {

enum class Kind
{
    Frame,
    Button,
    Label,
    List,
    Progress,
    Option,
    TextBox
};

enum State : unsigned
{
    Enabled = 1,
    Checked = 2,  // option buttons: chosen
    ReadOnly = 4, // text boxes: locked
};

struct Design
{
    const char *name;
    Kind kind;
    const char16_t *caption;      // nullptr: the widget has no caption
    const char *container;        // nullptr: the control itself
    int left, top, width, height; // twips
    unsigned state;
};

// The design, as a host sees it: every widget, its caption, container, place and initial state.
const Design design[] = {
    {"fraMain", Kind::Frame, u"", nullptr, 0, -90, 8745, 5310, Enabled},
    {"cmdCommit", Kind::Button, u"Commit to Database", "fraMain", 6945, 3675, 1680, 375, 0},
    {"cmdAdd", Kind::Button, u">", "fraMain", 4065, 960, 615, 375, 0},
    {"cmdAddAll", Kind::Button, u">>", "fraMain", 4065, 1335, 615, 375, 0},
    {"cmdRemoveAll", Kind::Button, u"<<", "fraMain", 4065, 1710, 615, 375, 0},
    {"cmdDelete", Kind::Button, u"<", "fraMain", 4065, 2085, 615, 375, 0},
    {"lblAllVendors", Kind::Label, u"Non Selected Active Empolyees:", "fraMain", 150, 150, 3105,
     255, Enabled},
    {"lblSelVendors", Kind::Label, u"Selected Empolyees:", "fraMain", 4710, 150, 2175, 255,
     Enabled},
    {"lstEmployees", Kind::List, nullptr, "fraMain", 105, 360, 3975, 2775, Enabled},
    {"lstSelectedEmployees", Kind::List, nullptr, "fraMain", 4650, 360, 3975, 2775, Enabled},
    {"prbLoad", Kind::Progress, nullptr, "fraMain", 4785, 4395, 3870, 255, Enabled},
    {"fraFind", Kind::Frame, u" Find Employee", "fraMain", 120, 3120, 4575, 2055, Enabled},
    {"optFind(1)", Kind::Option, u"ID", "fraFind", 135, 240, 735, 255, Checked},
    {"txtVendorID", Kind::TextBox, u"", "fraFind", 915, 255, 1095, 285, ReadOnly},
    {"optFind(0)", Kind::Option, u"Name", "fraFind", 135, 600, 765, 255, 0},
    {"txtVendorName", Kind::TextBox, u"", "fraFind", 915, 615, 3330, 285, Enabled | ReadOnly},
    {"Frame1", Kind::Frame, u" List to search  ", "fraFind", 135, 915, 2490, 825, Enabled},
    {"optList(0)", Kind::Option, u"Non Selected Employees", "Frame1", 120, 225, 2100, 255, Checked},
    {"optList(1)", Kind::Option, u"Selected Employeess", "Frame1", 120, 555, 1920, 195, 0},
    {"cmdFind", Kind::Button, u"Find", "fraFind", 2865, 1200, 975, 375, 0},
    {"lblVersionNumber", Kind::Label, nullptr, "fraFind", 150, 1770, 2175, 255, Enabled},
};

// The widgets that take focus, in the design's tab order.
const char *const designTabOrder[] = {
    "txtVendorName", "optFind(0)",          "txtVendorID",  "optFind(1)",
    "cmdFind",       "optList(0)",          "optList(1)",   "cmdDelete",
    "cmdAdd",        "cmdAddAll",           "cmdRemoveAll", "cmdCommit",
    "lstEmployees",  "lstSelectedEmployees"};

bool isKind(const QWidget *widget, Kind kind)
{
    switch (kind) {
    case Kind::Frame:
        return qobject_cast<const QGroupBox *>(widget);
    case Kind::Button:
        return qobject_cast<const QPushButton *>(widget);
    case Kind::Label:
        return qobject_cast<const QLabel *>(widget);
    case Kind::List:
        return qobject_cast<const ListView *>(widget);
    case Kind::Progress:
        return qobject_cast<const QProgressBar *>(widget);
    case Kind::Option:
        return qobject_cast<const QRadioButton *>(widget);
    case Kind::TextBox:
        return qobject_cast<const QLineEdit *>(widget);
    }
    return false;
}

QString captionOf(const QWidget *widget)
{
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *box = qobject_cast<const QLineEdit *>(widget))
        return box->text();
    return {};
}

QRect pixels(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

class tst_Layout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_control = std::make_unique<VendorEmployee>(); }
    void cleanup() { m_control.reset(); }

    void widget_data();
    void widget();
    void everyWidgetIsInTheDesign();
    void tabOrder();
    void textBoxColours();
    void columnHeaders_data();
    void columnHeaders();
    void versionLabel();
    void optionPairsAreIndependent();
    void removeMenuIsAPopup();
    void transferComponent();
    void captionsFitTheirWidths_data();
    void captionsFitTheirWidths();
    void zoomScalesTheDesign_data();
    void zoomScalesTheDesign();

private:
    template <typename T = QWidget> T *child(const char *name) const
    {
        return m_control->findChild<T *>(QLatin1String(name));
    }
    std::unique_ptr<VendorEmployee> m_control;
};

void tst_Layout::widget_data()
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < std::size(design); ++i)
        QTest::newRow(design[i].name) << int(i);
}

void tst_Layout::widget()
{
    QFETCH(int, row);
    const Design &expected = design[row];

    const QList<QWidget *> found = m_control->findChildren<QWidget *>(QLatin1String(expected.name));
    QCOMPARE(found.size(), 1);
    QWidget *const widget = found.first();
    QVERIFY2(isKind(widget, expected.kind), widget->metaObject()->className());

    const QWidget *const container = widget->parentWidget();
    if (expected.container)
        QCOMPARE(container->objectName(), QLatin1String(expected.container));
    else
        QCOMPARE(container, m_control.get());

    // Every design value is a whole number of pixels.
    for (int twips : {expected.left, expected.top, expected.width, expected.height})
        QCOMPARE(twips % 15, 0);
    QCOMPARE(widget->geometry(),
             pixels(expected.left, expected.top, expected.width, expected.height));

    if (expected.caption)
        QCOMPARE(captionOf(widget), QString::fromUtf16(expected.caption));

    QCOMPARE(widget->isEnabled(), bool(expected.state & Enabled));
    if (auto *option = qobject_cast<QRadioButton *>(widget))
        QCOMPARE(option->isChecked(), bool(expected.state & Checked));
    if (auto *box = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(box->isReadOnly(), bool(expected.state & ReadOnly));
    if (auto *bar = qobject_cast<QProgressBar *>(widget))
        QCOMPARE(bar->value(), 0);
    if (auto *list = qobject_cast<ListView *>(widget))
        QCOMPARE(list->Count(), 0);
}

void tst_Layout::everyWidgetIsInTheDesign()
{
    // Named widgets beyond the design would be widgets a host or a test could mistake for it.
    QStringList names;
    for (const QWidget *widget : m_control->findChildren<QWidget *>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(u"qt_"))
            names << widget->objectName();
    }
    QStringList expected;
    for (const Design &d : design)
        expected << QLatin1String(d.name);
    expected << QStringLiteral("mnuRemove");
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
}

void tst_Layout::tabOrder()
{
    // Walk the focus chain from the first widget and keep the ones that take focus by Tab.
    QWidget *const first = child(designTabOrder[0]);
    QVERIFY(first);
    QStringList walked;
    QWidget *widget = first;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && m_control->isAncestorOf(widget) &&
            !widget->objectName().isEmpty())
            walked << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first && walked.size() <= int(std::size(designTabOrder)));

    QStringList expected;
    for (const char *name : designTabOrder)
        expected << QLatin1String(name);
    QCOMPARE(walked, expected);
}

void tst_Layout::textBoxColours()
{
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    // The check only bites where the two system colours differ.
    QVERIFY(buttonFace != QApplication::palette().color(QPalette::Base));
    for (const char *name : {"txtVendorID", "txtVendorName"}) {
        auto *box = child<QLineEdit>(name);
        QVERIFY2(box, name);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(box->palette().color(group, QPalette::Base), buttonFace);
        QCOMPARE(box->palette().color(QPalette::Base),
                 platform::systemColor(box, platform::vbButtonFace));
    }
}

void tst_Layout::columnHeaders_data()
{
    QTest::addColumn<QString>("list");
    QTest::newRow("lstEmployees") << "lstEmployees";
    QTest::newRow("lstSelectedEmployees") << "lstSelectedEmployees";
}

void tst_Layout::columnHeaders()
{
    QFETCH(QString, list);
    auto *view = m_control->findChild<ListView *>(list);
    QVERIFY(view);

    const int w = view->widthTwips();
    QCOMPARE(w, 3975);
    QCOMPARE(view->columnHeaderCount(), 3);
    QCOMPARE(view->columnHeaderText(1), QStringLiteral("ID"));
    QCOMPARE(view->columnHeaderText(2), QStringLiteral("Name"));
    QCOMPARE(view->columnHeaderText(3), QStringLiteral("ID"));
    QCOMPARE(view->columnHeaderWidth(1), w / 5.0);
    QCOMPARE(view->columnHeaderWidth(2), 4 * w / 5.0);
    QCOMPARE(view->columnHeaderWidth(3), 0.0);
    // The two visible columns fill the list exactly.
    QCOMPARE(view->columnHeaderWidth(1) + view->columnHeaderWidth(2), double(w));

    // What the view itself shows.
    QAbstractItemModel *model = view->model();
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ID"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("ID"));
    QHeaderView *header = view->header();
    QVERIFY(!header->isHidden());
    QCOMPARE(header->sectionSize(0), 795 / 15);
    QCOMPARE(header->sectionSize(1), 3180 / 15);
    QVERIFY(header->isSectionHidden(2) || header->sectionSize(2) == 0);
}

void tst_Layout::versionLabel()
{
    QCOMPARE(QLatin1String(KAVRIVENDOREMP_VERSION_STRING), QLatin1String("2.0.2"));
    auto *label = child<QLabel>("lblVersionNumber");
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Version Number: %1.%2.%3")
                                .arg(KAVRIVENDOREMP_VERSION_MAJOR)
                                .arg(KAVRIVENDOREMP_VERSION_MINOR)
                                .arg(KAVRIVENDOREMP_VERSION_PATCH));
    QCOMPARE(label->text(), QStringLiteral("Version Number: 2.0.2"));
}

void tst_Layout::optionPairsAreIndependent()
{
    auto *optList1 = child<QRadioButton>("optList(1)");
    auto *optList0 = child<QRadioButton>("optList(0)");
    auto *optFind0 = child<QRadioButton>("optFind(0)");
    auto *optFind1 = child<QRadioButton>("optFind(1)");
    QVERIFY(optList0 && optList1 && optFind0 && optFind1);

    optList1->setChecked(true);
    QVERIFY(!optList0->isChecked());
    QVERIFY(optFind1->isChecked());
    optFind0->setChecked(true);
    QVERIFY(!optFind1->isChecked());
    QVERIFY(optList1->isChecked());
}

void tst_Layout::removeMenuIsAPopup()
{
    const QList<QMenu *> menus = m_control->findChildren<QMenu *>(QStringLiteral("mnuRemove"));
    QCOMPARE(menus.size(), 1);
    QMenu *const menu = menus.first();
    QCOMPARE(menu->parent(), m_control.get());
    QCOMPARE(menu->title(), QStringLiteral("Remove"));
    QVERIFY(menu->windowFlags().testFlag(Qt::Popup));
    QVERIFY(!menu->isVisible());

    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 1);
    QCOMPARE(actions.first()->objectName(), QStringLiteral("mnuRemoveItems"));
    QCOMPARE(actions.first()->text(), QStringLiteral("Remove"));
    QVERIFY(actions.first()->isEnabled());

    QVERIFY(m_control->findChildren<QMenuBar *>().isEmpty());
    for (QObject *owner : menu->menuAction()->associatedObjects())
        QVERIFY2(!qobject_cast<QMenuBar *>(owner), "mnuRemove sits in a menu bar");
}

void tst_Layout::transferComponent()
{
    const QList<QObject *> found = m_control->findChildren<QObject *>(QStringLiteral("Inet1"));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first()->parent(), m_control.get());
    // Invisible while running: not a widget at all.
    QVERIFY(!found.first()->isWidgetType());
}

void tst_Layout::captionsFitTheirWidths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reserved"); // room the widget keeps for its indicator or frame
    QTest::addColumn<qreal>("zoom");
    for (const qreal zoom : {1.0, 1.5, 3.0}) {
        const auto row = [zoom](const char *name) {
            return &QTest::addRow("%s at %g", name, zoom);
        };
        *row("largest non-selected count")
            << "lblAllVendors" << "Non Selected Active Employees (32767):" << 0 << zoom;
        *row("largest selected count")
            << "lblSelVendors" << "Selected Employees (32767):" << 0 << zoom;
        *row("commit") << "cmdCommit" << "Commit to Database" << 8 << zoom;
        *row("non-selected option") << "optList(0)" << "Non Selected Employees" << 16 << zoom;
        *row("selected option") << "optList(1)" << "Selected Employeess" << 16 << zoom;
        *row("name option") << "optFind(0)" << "Name" << 16 << zoom;
    }
}

// A host's default face is often wider than the design's; the texts must still show whole.
void tst_Layout::captionsFitTheirWidths()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, reserved);
    QFETCH(qreal, zoom);
    m_control->setZoom(zoom);
    auto *widget = m_control->findChild<QWidget *>(name);
    QVERIFY(widget);
    const int advance = QFontMetrics(widget->font()).horizontalAdvance(text);
    QVERIFY2(advance + reserved <= widget->width(),
             qPrintable(QStringLiteral("%1 px for %2 px").arg(advance).arg(widget->width())));
}

void tst_Layout::zoomScalesTheDesign_data()
{
    QTest::addColumn<qreal>("asked");
    QTest::addColumn<qreal>("zoom");
    QTest::newRow("1.5") << 1.5 << 1.5;
    QTest::newRow("above 3") << 5.0 << 3.0;
    QTest::newRow("below 1") << 0.5 << 1.0;
}

// Every rectangle scales with the zoom, the text and the rows grow with it, and going back to 1.0
// restores the geometry and the face exactly.
void tst_Layout::zoomScalesTheDesign()
{
    QFETCH(qreal, asked);
    QFETCH(qreal, zoom);
    m_control->show();
    const VendorEmployee fresh;
    auto *list = child<ListView>("lstEmployees");
    list->Add(QStringLiteral("7")).setSubItems(1, QStringLiteral("Alice"));
    const int rowHeight = list->visualRect(list->model()->index(0, 0)).height();
    const QFont font = m_control->font();

    m_control->setZoom(asked);
    QCOMPARE(m_control->zoom(), zoom);
    QCOMPARE(m_control->property("zoom").toReal(), zoom);
    for (const Design &expected : design) {
        const QRect at1 = pixels(expected.left, expected.top, expected.width, expected.height);
        const QRect now = child(expected.name)->geometry();
        for (auto [value, design] : {std::pair{now.x(), at1.x()}, {now.y(), at1.y()},
                                     {now.width(), at1.width()}, {now.height(), at1.height()}})
            QVERIFY2(std::abs(value - design * zoom) <= 1, expected.name);
    }
    QCOMPARE(m_control->sizeHint(), (fresh.sizeHint() * zoom));
    QCOMPARE(list->header()->sectionSize(0) + list->header()->sectionSize(1),
             qRound(3975 * zoom / 15));
    QVERIFY(std::abs(list->widthTwips() - 3975) <= 10); // whole pixels at any zoom
    if (zoom > 1) {
        QVERIFY(m_control->font().pointSizeF() >= font.pointSizeF() * zoom * 0.85);
        QVERIFY(list->visualRect(list->model()->index(0, 0)).height() >= rowHeight * zoom * 0.8);
    }

    m_control->setZoom(1.0);
    for (const Design &expected : design)
        QCOMPARE(child(expected.name)->geometry(),
                 pixels(expected.left, expected.top, expected.width, expected.height));
    QCOMPARE(m_control->font(), fresh.font());
    QCOMPARE(list->visualRect(list->model()->index(0, 0)).height(), rowHeight);
}

QTEST_MAIN(tst_Layout)
#include "tst_layout.moc"
