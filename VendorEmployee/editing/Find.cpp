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
    lstSelectedEmployees->setMultiSelect(false);
    lstEmployees->setMultiSelect(false);
    cmdDelete->setEnabled(false);
    cmdRemoveAll->setEnabled(false);
    cmdAddAll->setEnabled(false);
    cmdAdd->setEnabled(false);

    ListView *const list = optList[0]->isChecked() ? lstEmployees : lstSelectedEmployees;
    ListItem found;
    if (optFind[0]->isChecked())
        found = findByName(list, txtVendorName->text());
    else
        found = list->FindItem(txtVendorID->text());

    if (!found) {
        platform::MsgBox(q, QStringLiteral("Not found"), platform::vbInformation);
        return;
    }
    found.setSelected(true);
    found.EnsureVisible();
    (optList[0]->isChecked() ? lstEmployees : lstSelectedEmployees)->SetFocus();
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
