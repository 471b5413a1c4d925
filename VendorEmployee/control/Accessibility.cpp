#include "control/VendorEmployee_p.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace KavriVendorEmp {

namespace {

// keys: what stands for the widget on the keyboard, named in its tooltip.
void describe(QWidget *widget, const QString &name, const QString &description = QString(),
              const QString &keys = QString())
{
    widget->setAccessibleName(name);
    if (!description.isEmpty()) {
        widget->setAccessibleDescription(description);
        widget->setToolTip(keys.isEmpty() ? description
                                          : QStringLiteral("%1 (%2)").arg(description, keys));
    }
}

} // namespace

void VendorEmployeePrivate::describeWidgets()
{
    // The move buttons' captions are arrows: a screen reader needs words.
    describe(cmdAdd, QStringLiteral("Add"),
             QStringLiteral("Link the selected employee to the vendor"),
             QStringLiteral("Enter in the left list"));
    describe(cmdAddAll, QStringLiteral("Add all selected"),
             QStringLiteral("Link all selected employees to the vendor"),
             QStringLiteral("select the rows with Shift+arrows, Ctrl+Space or Ctrl+A"));
    describe(cmdDelete, QStringLiteral("Remove"),
             QStringLiteral("Unlink the selected employee from the vendor"),
             QStringLiteral("Enter or Delete in the right list"));
    describe(cmdRemoveAll, QStringLiteral("Remove all selected"),
             QStringLiteral("Unlink all selected employees from the vendor"),
             QStringLiteral("select the rows with Shift+arrows, Ctrl+Space or Ctrl+A"));
    describe(cmdCommit, QStringLiteral("Commit to Database"),
             QStringLiteral("Save the vendor's employee links to the database"));
    describe(cmdFind, QStringLiteral("Find"));

    describe(fraMain, QStringLiteral("Vendor employees"));
    describe(fraFind, QStringLiteral("Find Employee"));
    describe(Frame1, QStringLiteral("List to search"));
    describe(optList[0], optList[0]->text());
    describe(optList[1], QStringLiteral("Selected Employees"));
    describe(optFind[0], QStringLiteral("Find by name"));
    describe(optFind[1], QStringLiteral("Find by ID"));
    describe(txtVendorID, QStringLiteral("Employee ID to find"));
    describe(txtVendorName, QStringLiteral("Employee name to find"));
    describe(prbLoad, QStringLiteral("Loading progress"));
    describe(mnuRemove, QStringLiteral("Remove"));

    // The count labels label the lists; a label's own name follows its text.
    lblAllVendors->setBuddy(lstEmployees);
    lblSelVendors->setBuddy(lstSelectedEmployees);
    syncListNames();
}

void VendorEmployeePrivate::syncListNames()
{
    lstEmployees->setAccessibleName(lblAllVendors->text());
    lstSelectedEmployees->setAccessibleName(lblSelVendors->text());
}

} // namespace KavriVendorEmp
