#include "control/VendorEmployee_p.h"

#include "editing/ChangeCode.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace KavriVendorEmp {

ListItem VendorEmployeePrivate::CopyEmployeeRow(const QString &id, const QString &name,
                                                const QString &sourceCode, ListView *target)
{
    ListItem row = target->Add(id);
    row.setSubItems(1, name);
    // Rebuilt from the ID: the source code only tells whether the row left its home list.
    row.setSubItems(2, ChangeCode::baseCode(id));
    if (ChangeCode::isNumeric(sourceCode)) {
        const QString suffix =
            target == lstSelectedEmployees ? QStringLiteral("N") : QStringLiteral("D");
        row.setSubItems(2, row.SubItems(2) + suffix);
    }
    return row;
}

void VendorEmployeePrivate::RefreshCountLabels()
{
    lblSelVendors->setText(CountLabels::selected(lstSelectedEmployees->Count()));
    lblAllVendors->setText(CountLabels::nonSelected(lstEmployees->Count()));
    syncListNames();
}

void VendorEmployeePrivate::FinishMove(ListView *source, ListView *target)
{
    RefreshCountLabels();
    cmdCommit->setEnabled(true);
    const auto optionOf = [this](const ListView *list) {
        return list == lstSelectedEmployees ? optList[1] : optList[0];
    };
    optionOf(target)->setChecked(true);
    if (source->Count() == 0)
        optionOf(source)->setEnabled(false);
}

} // namespace KavriVendorEmp
