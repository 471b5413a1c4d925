#include "control/VendorEmployee_p.h"

#include "platform/MessageBox.h"
#include "platform/Widgets.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace KavriVendorEmp {

namespace {

// The first row, in list order, whose name holds the text anywhere, letter case aside.
ListItem findByName(ListView *list, const QString &text)
{
    const int count = list->Count();
    for (int i = 1; i <= count; ++i) {
        ListItem item = list->Item(i);
        if (item.SubItems(1).contains(text, Qt::CaseInsensitive)) {
            item.setSelected(true);
            return item;
        }
    }
    return {};
}

ListView *searchedList(const VendorEmployeePrivate *d)
{
    return d->optList[0]->isChecked() ? d->lstEmployees : d->lstSelectedEmployees;
}

// Every search begins the same way: one row at a time in both lists, and no move until a row
// is chosen again. Returns the list searched.
ListView *beginSearch(VendorEmployeePrivate *d)
{
    d->lstSelectedEmployees->setMultiSelect(false);
    d->lstEmployees->setMultiSelect(false);
    d->cmdDelete->setEnabled(false);
    d->cmdRemoveAll->setEnabled(false);
    d->cmdAddAll->setEnabled(false);
    d->cmdAdd->setEnabled(false);
    return searchedList(d);
}

// Shows the row a search found, or says there is none.
void endSearch(VendorEmployeePrivate *d, ListItem found)
{
    if (!found) {
        platform::MsgBox(d->q, QStringLiteral("Not found"), platform::vbInformation);
        return;
    }
    found.setSelected(true);
    found.EnsureVisible();
    searchedList(d)->SetFocus();
}

void activate(QLineEdit *box)
{
    box->setReadOnly(false);
    platform::setBackColor(box, platform::vbWindowBackground);
}

// Emptying the box fires its change handler (when it held text), which disables Find.
void deactivate(QLineEdit *box)
{
    box->setText(QString());
    box->setReadOnly(true);
    platform::setBackColor(box, platform::vbButtonFace);
}

} // namespace

void VendorEmployeePrivate::cmdFind_Click()
{
    ListView *const list = beginSearch(this);
    if (optFind[0]->isChecked())
        endSearch(this, findByName(list, txtVendorName->text()));
    else
        endSearch(this, list->FindItem(txtVendorID->text()));
}

// Find's own steps, with the search starting after (or, going back, before) the current row of
// the searched list and wrapping round, so that the current row itself comes last.
void VendorEmployeePrivate::findAgain(int direction)
{
    if (!cmdFind->isEnabled())
        return;
    ListView *const list = beginSearch(this);
    const bool byName = optFind[0]->isChecked();
    const QString text = byName ? txtVendorName->text() : txtVendorID->text();
    const int count = list->Count();
    // Without a current row the search starts at the first row, or going back at the last.
    int at = list->indexOf(list->SelectedItem());
    if (at == 0 && direction < 0)
        at = count + 1;
    ListItem found;
    for (int step = 1; step <= count && !found; ++step) {
        const int position = (at - 1 + direction * step + 2 * count) % count + 1;
        ListItem row = list->Item(position);
        if (byName ? row.SubItems(1).contains(text, Qt::CaseInsensitive) : row.Text() == text)
            found = row;
    }
    endSearch(this, found);
}

void VendorEmployeePrivate::optFind_Click(int index)
{
    if (index == 0) {
        deactivate(txtVendorID);
        activate(txtVendorName);
    } else {
        deactivate(txtVendorName);
        activate(txtVendorID);
    }
}

void VendorEmployeePrivate::txtVendorID_Change()
{
    cmdFind->setEnabled(!txtVendorID->text().isEmpty());
}

void VendorEmployeePrivate::txtVendorName_Change()
{
    cmdFind->setEnabled(!txtVendorName->text().isEmpty());
}

} // namespace KavriVendorEmp
