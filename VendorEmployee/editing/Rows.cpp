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

VendorEmployeePrivate::MovedRow VendorEmployeePrivate::RecodeMovedRow(ListItem &row,
                                                                      ListView *target)
{
    const bool toSelected = target == lstSelectedEmployees;
    MovedRow moved;
    moved.id = row.Text();
    moved.name = row.SubItems(1);
    {
        const QString code = row.SubItems(2);
        moved.suffixBefore = ChangeCode::suffixOf(code, moved.id);
        if (moved.suffixBefore == ChangeCode::otherForm) {
            moved.otherCodeBefore = code;
            const QString after = movedCode(moved.id, code, toSelected);
            moved.suffixAfter = ChangeCode::suffixOf(after, moved.id);
            row.setSubItems(2, after);
            return moved;
        }
    } // the row alone holds its code again, so that it changes where it lies
    // The code is the base code with or without its letter: the letter comes or goes.
    if (moved.suffixBefore == 0) {
        moved.suffixAfter = toSelected ? u'N' : u'D';
        row.appendToSubItem(2, moved.suffixAfter);
    } else {
        row.chopSubItem(2);
    }
    return moved;
}

VendorEmployeePrivate::MovedRow VendorEmployeePrivate::MovedRow::of(const QString &id,
                                                                    const QString &name,
                                                                    const QString &codeBefore,
                                                                    const QString &codeAfter)
{
    MovedRow moved;
    moved.id = id;
    moved.name = name;
    moved.suffixBefore = ChangeCode::suffixOf(codeBefore, id);
    moved.suffixAfter = ChangeCode::suffixOf(codeAfter, id);
    Q_ASSERT(moved.suffixAfter != ChangeCode::otherForm);
    if (moved.suffixBefore == ChangeCode::otherForm)
        moved.otherCodeBefore = codeBefore;
    return moved;
}

bool VendorEmployeePrivate::MovedRow::hasCode(const QString &code, bool before) const
{
    if (before && suffixBefore == ChangeCode::otherForm)
        return code == otherCodeBefore;
    return ChangeCode::suffixOf(code, id) == (before ? suffixBefore : suffixAfter);
}

bool VendorEmployeePrivate::MovedRow::pendingBefore() const
{
    if (suffixBefore == ChangeCode::otherForm)
        return !ChangeCode::isNumeric(otherCodeBefore);
    return suffixBefore != 0;
}

void VendorEmployeePrivate::RefreshCountLabels()
{
    lblSelVendors->setText(CountLabels::selected(lstSelectedEmployees->Count()));
    lblAllVendors->setText(CountLabels::nonSelected(lstEmployees->Count()));
    syncListNames();
}

} // namespace KavriVendorEmp
