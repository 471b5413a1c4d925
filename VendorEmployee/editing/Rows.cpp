#include "control/VendorEmployee_p.h"

#include "editing/ChangeCode.h"

#include <QLabel>

#include <algorithm>

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

void VendorEmployeePrivate::RecodeMovedRow(ListItem &row, ListView *target, MovedRows &moved)
{
    const bool toSelected = target == lstSelectedEmployees;
    MovedRows::Row &carried = moved.rows.emplace_back();
    carried.id = row.Text();
    carried.name = row.SubItems(1);
    {
        const QString code = row.SubItems(2);
        carried.suffixBefore = ChangeCode::suffixOf(code, carried.id);
        if (carried.suffixBefore == ChangeCode::otherForm) {
            const QString after = movedCode(carried.id, code, toSelected);
            carried.suffixAfter = ChangeCode::suffixOf(after, carried.id);
            moved.otherCodesBefore.emplace_back(moved.rows.size() - 1, code);
            row.setSubItems(2, after);
            return;
        }
    } // the row alone holds its code again, so that it changes where it lies
    // The code is the base code with or without its letter: the letter comes or goes.
    if (carried.suffixBefore == 0) {
        carried.suffixAfter = toSelected ? u'N' : u'D';
        row.appendToSubItem(2, carried.suffixAfter);
    } else {
        row.chopSubItem(2);
    }
}

void VendorEmployeePrivate::MovedRows::add(const QString &id, const QString &name,
                                           const QString &codeBefore, const QString &codeAfter)
{
    Row &row = rows.emplace_back();
    row.id = id;
    row.name = name;
    row.suffixBefore = ChangeCode::suffixOf(codeBefore, id);
    row.suffixAfter = ChangeCode::suffixOf(codeAfter, id);
    Q_ASSERT(row.suffixAfter != ChangeCode::otherForm);
    if (row.suffixBefore == ChangeCode::otherForm)
        otherCodesBefore.emplace_back(rows.size() - 1, codeBefore);
}

const QString &VendorEmployeePrivate::MovedRows::otherCodeBefore(std::size_t row) const
{
    const auto found = std::lower_bound(otherCodesBefore.begin(), otherCodesBefore.end(), row,
                                        [](const std::pair<std::size_t, QString> &other,
                                           std::size_t k) { return other.first < k; });
    Q_ASSERT(found != otherCodesBefore.end() && found->first == row);
    return found->second;
}

bool VendorEmployeePrivate::MovedRows::hasCode(std::size_t row, const QString &code,
                                               bool before) const
{
    const Row &r = rows[row];
    if (before && r.suffixBefore == ChangeCode::otherForm)
        return code == otherCodeBefore(row);
    return ChangeCode::suffixOf(code, r.id) == (before ? r.suffixBefore : r.suffixAfter);
}

bool VendorEmployeePrivate::MovedRows::pendingBefore(std::size_t row) const
{
    if (rows[row].suffixBefore == ChangeCode::otherForm)
        return !ChangeCode::isNumeric(otherCodeBefore(row));
    return rows[row].suffixBefore != 0;
}

void VendorEmployeePrivate::RefreshCountLabels()
{
    lblSelVendors->setText(CountLabels::selected(lstSelectedEmployees->Count()));
    lblAllVendors->setText(CountLabels::nonSelected(lstEmployees->Count()));
    syncListNames();
}

} // namespace KavriVendorEmp
