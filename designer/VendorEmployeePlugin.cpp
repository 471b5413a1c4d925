#include "VendorEmployeePlugin.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QIcon>

namespace KavriVendorEmp::designer {

VendorEmployeePlugin::VendorEmployeePlugin(QObject *parent) : QObject(parent) {}

QString VendorEmployeePlugin::name() const
{
    return QStringLiteral("KavriVendorEmp::VendorEmployee");
}

QString VendorEmployeePlugin::group() const
{
    return QStringLiteral("KavriVendorEmp");
}

QString VendorEmployeePlugin::toolTip() const
{
    return QStringLiteral("Vendor employee links");
}

QString VendorEmployeePlugin::whatsThis() const
{
    return QStringLiteral("Links employees to a vendor: two lists, the moves between them and a "
                          "commit to the server. Set VendorID, then ServerName, in code.");
}

QString VendorEmployeePlugin::includeFile() const
{
    return QStringLiteral("KavriVendorEmp/VendorEmployee.h");
}

QIcon VendorEmployeePlugin::icon() const
{
    return {};
}

bool VendorEmployeePlugin::isContainer() const
{
    return false;
}

QWidget *VendorEmployeePlugin::createWidget(QWidget *parent)
{
    return new VendorEmployee(parent);
}

bool VendorEmployeePlugin::isInitialized() const
{
    return m_initialized;
}

void VendorEmployeePlugin::initialize(QDesignerFormEditorInterface *)
{
    m_initialized = true;
}

QString VendorEmployeePlugin::domXml() const
{
    return QStringLiteral(R"(<ui language="c++">
 <widget class="KavriVendorEmp::VendorEmployee" name="vendorEmployee">
  <property name="geometry">
   <rect><x>0</x><y>0</y><width>583</width><height>354</height></rect>
  </property>
 </widget>
</ui>
)");
}

} // namespace KavriVendorEmp::designer
