#include "control/VendorEmployee_p.h"

#include "editing/ChangeCode.h"

#include <QLabel>

namespace KavriVendorEmp {

namespace {

// Rebuilt from the ID: the source code only tells whether the row left its home list.
QString movedCode(const QString &id, const QString &sourceCode, bool toSelected)
{
    QString code = ChangeCode::baseCode(id);
    if (ChangeCode::isNumeric(sourceCode))
        code += toSelected ? u'N' : u'D';
    return code;
}

} // namespace

ListItem VendorEmployeePrivate::CopyEmployeeRow(const QString &id, const QString &name,
                                                const QString &sourceCode, ListView *target)
{
    ListItem row = target->Add(id);
    row.setSubItems(1, name);
    row.setSubItems(2, movedCode(id, sourceCode, target == lstSelectedEmployees));
    return row;
}

void VendorEmployeePrivate::RecodeMovedRow(ListItem &row, ListView *target)
{
    row.setSubItems(2, movedCode(row.Text(), row.SubItems(2), target == lstSelectedEmployees));
}

void VendorEmployeePrivate::RefreshCountLabels()
{
    lblSelVendors->setText(CountLabels::selected(lstSelectedEmployees->Count()));
    lblAllVendors->setText(CountLabels::nonSelected(lstEmployees->Count()));
    syncListNames();
}

} // namespace KavriVendorEmp
