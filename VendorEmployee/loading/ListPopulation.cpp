#include "control/VendorEmployee_p.h"

#include "control/Conversions.h"
#include "editing/ChangeCode.h"
#include "platform/Widgets.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

namespace KavriVendorEmp {

using platform::XmlNode;

namespace {

// Every read goes through a position; a missing node throws and so ends the load.
XmlNode child(const XmlNode &node, int position)
{
    return node.childNodes().item(position);
}

// IDs, names and counts are trimmed: the white space of a pretty-printed or hand-written
// document is not part of the value.
QString fieldText(const XmlNode &record, int field)
{
    return child(child(record, field), 0).text().trimmed();
}

// The bar's value as the rows go by. QProgressBar works out its whole style option for every new
// value, which at 32,767 rows costs more than all the rest of a load; so values reach the bar
// when they can move it by a pixel, and the last one always does, also when a row fails. Each
// such value repaints the bar and what lies under it at once; a screen shows sixty pictures a
// second at most, so the bar paints at that rate and once more at the end.
class ProgressValue
{
public:
    explicit ProgressValue(QProgressBar *bar)
        : m_bar(bar), m_stride(std::max(1, bar->maximum() / std::max(1, bar->width()))),
          m_updates(bar->updatesEnabled())
    {
        m_bar->setUpdatesEnabled(false);
        m_shown.start();
    }
    ~ProgressValue()
    {
        flush();
        m_bar->setUpdatesEnabled(m_updates);
        if (m_updates)
            m_bar->repaint();
    }
    Q_DISABLE_COPY(ProgressValue)

    void set(int value)
    {
        // Rows beyond the document's counts hold the bar full rather than leave its range.
        m_pending = std::min(value, m_bar->maximum());
        if (*m_pending % m_stride == 0)
            flush();
    }

private:
    static constexpr int framePeriodMs = 16;

    void flush()
    {
        if (!m_pending)
            return;
        m_bar->setValue(*std::exchange(m_pending, std::nullopt));
        if (m_updates && m_shown.hasExpired(framePeriodMs)) {
            m_bar->setUpdatesEnabled(true);
            m_bar->repaint();
            m_bar->setUpdatesEnabled(false);
            m_shown.start();
        }
    }

    QProgressBar *const m_bar;
    const int m_stride;
    const bool m_updates;
    QElapsedTimer m_shown;
    std::optional<int> m_pending;
};

// The rows of one section, then the list's sort key: one update of the view for all of them.
// `expected` is the section's count from the document, which only sizes the list's storage.
void loadEmployeeSection(VendorEmployeePrivate &d, int section, ListView *list, int expected)
{
    const platform::XmlNodeList records =
        child(d.m_document->documentElement(), section).childNodes();
    list->reserve(expected);
    ListView::BulkUpdate bulk(list);
    ProgressValue progress(d.prbLoad);
    // Each record is freed once its row is made, so that the rows take the records' memory
    // instead of adding to it; nothing reads a record twice.
    for (auto at = records.begin(); at != records.end();) {
        const XmlNode record = *at;
        ++at;
        ListItem row = list->Add(fieldText(record, 0));
        row.setSubItems(1, fieldText(record, 1));
        row.setSubItems(2, ChangeCode::baseCode(row.Text()));
        progress.set(d.m_progressCounter);
        d.m_progressCounter = toInt16(d.m_progressCounter + 1);
        d.m_document->release(record);
    }
    list->setSortKey(2);
}

// The list's own option, then both find options and the ID box, enabled, unlocked and recoloured.
void enableFindControls(VendorEmployeePrivate &d, QRadioButton *listOption)
{
    listOption->setEnabled(true);
    d.optFind[0]->setEnabled(true);
    d.optFind[1]->setEnabled(true);
    d.txtVendorID->setEnabled(true);
    d.txtVendorID->setReadOnly(false);
    platform::setBackColor(d.txtVendorID, platform::vbWindowBackground);
}

} // namespace

void VendorEmployeePrivate::ReadEmployeeCounts()
{
    const XmlNode root = m_document->documentElement();
    m_nonSelectedCount = textToInt16(child(child(child(root, 0), 0), 0).text().trimmed());
    m_selectedCount = textToInt16(child(child(child(root, 0), 0), 1).text().trimmed());
    const std::int16_t maximum = toInt16(m_nonSelectedCount + m_selectedCount);
    // A bar whose maximum lies below its minimum has no valid range: refused like an overflow.
    if (maximum < prbLoad->minimum())
        throw std::out_of_range("progress maximum below its minimum");
    prbLoad->setMaximum(maximum);
    lblAllVendors->setText(CountLabels::nonSelected(m_nonSelectedCount));
    lblSelVendors->setText(CountLabels::selected(m_selectedCount));
    syncListNames();
    m_progressCounter = 0;
}

void VendorEmployeePrivate::LoadNonSelectedEmployees()
{
    loadEmployeeSection(*this, 1, lstEmployees, m_nonSelectedCount);
    lstSelectedEmployees->setSortKey(2);
    enableFindControls(*this, optList[0]);
    if (ListItem current = lstEmployees->SelectedItem())
        current.setSelected(false);
}

void VendorEmployeePrivate::LoadSelectedEmployees()
{
    loadEmployeeSection(*this, 2, lstSelectedEmployees, m_selectedCount);
    enableFindControls(*this, optList[1]);
    prbLoad->setValue(prbLoad->maximum());
    if (ListItem current = lstSelectedEmployees->SelectedItem())
        current.setSelected(false);
}

} // namespace KavriVendorEmp
