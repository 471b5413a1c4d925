#include "control/VendorEmployee_p.h"

#include "control/Conversions.h"
#include "platform/Widgets.h"
#include "saving/UrlEncode.h"

Q_LOGGING_CATEGORY(lcVendorEmployee, "kavrivendoremp.control")

namespace KavriVendorEmp {

VendorEmployeePrivate::VendorEmployeePrivate(VendorEmployee *q) : q(q) {}

VendorEmployeePrivate::~VendorEmployeePrivate() = default;

void VendorEmployeePrivate::setMousePointer(int pointer)
{
    platform::setMousePointer(q, pointer);
}

VendorEmployee::VendorEmployee(QWidget *parent)
    : QWidget(parent), d(std::make_unique<VendorEmployeePrivate>(this))
{
    d->createWidgets();
    d->UserControl_Initialize();
    d->describeWidgets();
    d->connectHandlers();
    d->setUpPendingRows();
    d->setUpHistory();
    d->setUpFindAgain();
    d->followAppearance();
}

VendorEmployee::~VendorEmployee() = default;

void VendorEmployee::setVendorID(const QString &ptVendorID)
{
    const QString vendorID = ptVendorID;
    // Converted before anything is stored, so a refused text leaves the old vendor in force.
    d->m_vendorID = textToInt32(vendorID);
}

void VendorEmployee::setServerName(const QString &PtServerName)
{
    d->m_serverName = PtServerName;
    d->LoadEmployees(d->m_vendorID, d->m_serverName);
    d->settlePendingChanges();
}

void VendorEmployee::SaveToDatabase()
{
    d->SaveToDatabase();
}

QString VendorEmployee::urlEncode(const QString &theData) const
{
    return formUrlEncode(theData);
}

QString VendorEmployee::lastError() const
{
    return d->m_lastError;
}

int VendorEmployee::pendingChanges() const
{
    return d->m_pendingLinks + d->m_pendingUnlinks;
}

void VendorEmployee::setZoom(qreal zoom)
{
    d->setZoom(zoom);
}

qreal VendorEmployee::zoom() const
{
    return d->m_zoom;
}

QSize VendorEmployee::sizeHint() const
{
    // fraMain is 8745 x 5310 twips and starts 90 twips above the top edge.
    return QSize(qRound(8745 * d->m_zoom / 15), qRound((5310 - 90) * d->m_zoom / 15));
}

} // namespace KavriVendorEmp
