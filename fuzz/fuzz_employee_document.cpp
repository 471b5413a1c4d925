// The employee document as the control reads it: bytes parsed by the XML document component,
// then the three filling routines of a real control fill its two lists. A document may be
// refused, or end its load part-way, but never crash the control; a load that completes leaves
// each list holding exactly its section's records, as unchanged rows in the order of their codes.

#include "FuzzCheck.h"

#include "control/VendorEmployee_p.h"
#include "editing/ChangeCode.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QProgressBar>

#include <cstdint>
#include <memory>

using namespace KavriVendorEmp;

namespace {

VendorEmployeePrivate &control()
{
    static int argc = 1;
    static char name[] = "fuzz_employee_document";
    static char *argv[] = {name, nullptr};
    static const bool platformSet = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }();
    Q_UNUSED(platformSet);
    static QApplication app(argc, argv);
    static VendorEmployee widget;
    return *VendorEmployeePrivate::get(&widget);
}

// 0 for a section that is not there: a load of it could not complete.
int records(const platform::XmlNode &root, int section)
{
    const platform::XmlNode list = root.isNull() ? root : root.childNodes().item(section);
    if (list.isNull())
        return 0;
    int n = 0;
    for (const platform::XmlNode record : list.childNodes()) {
        Q_UNUSED(record);
        ++n;
    }
    return n;
}

void checkList(ListView *list, int expected)
{
    FUZZ_CHECK(list->Count() == expected);
    FUZZ_CHECK(list->model()->rowCount() == expected);
    QString previous;
    for (int position = 1; position <= list->Count(); ++position) {
        const ListItem row = list->Item(position);
        const QString code = row.SubItems(2);
        FUZZ_CHECK(code == ChangeCode::baseCode(row.Text()));
        FUZZ_CHECK(ChangeCode::isNumeric(code));
        FUZZ_CHECK(position == 1 || previous <= code);
        FUZZ_CHECK(list->model()->index(position - 1, 0).data().toString() == row.Text());
        previous = code;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    VendorEmployeePrivate &d = control();
    d.lstEmployees->Clear();
    d.lstSelectedEmployees->Clear();
    d.m_document = std::make_unique<platform::XmlDocument>();
    const bool parsed = d.m_document->loadXml(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    FUZZ_CHECK(parsed != d.m_document->documentElement().isNull());

    // Counted first: the load frees each record once it has made its row.
    const int nonSelected = records(d.m_document->documentElement(), 1);
    const int selected = records(d.m_document->documentElement(), 2);

    // The routines in LoadEmployees' order, with its catch-all: a failure ends the load silently.
    bool complete = false;
    try {
        d.ReadEmployeeCounts();
        d.LoadNonSelectedEmployees();
        d.LoadSelectedEmployees();
        complete = true;
    } catch (...) {
    }
    if (complete) {
        checkList(d.lstEmployees, nonSelected);
        checkList(d.lstSelectedEmployees, selected);
        FUZZ_CHECK(d.prbLoad->value() == d.prbLoad->maximum());
    }
    d.m_document.reset();
    return 0;
}
