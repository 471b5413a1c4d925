#include "control/VendorEmployee_p.h"

#include "platform/Widgets.h"

#include <QProgressBar>
#include <QPushButton>

namespace KavriVendorEmp {

namespace {

// The server name is used exactly as stored: nothing is encoded, no separator added or removed.
QString loadUrl(const QString &serverName, std::int32_t vendorID)
{
    return serverName + QStringLiteral("/VendorEmployee.asp?VendorID=") + QString::number(vendorID);
}

} // namespace

void VendorEmployeePrivate::LoadEmployees(std::int32_t vendorID, const QString &serverName)
{
    // A failed load ends silently: what it did so far stays, only the pointer comes back.
    try {
        cmdCommit->setEnabled(false);
        setMousePointer(platform::vbHourglass);
        m_vendorID = vendorID;
        m_loadedVendorID = vendorID;
        if (!serverName.isEmpty())
            m_serverName = serverName;
        lstEmployees->Clear();
        lstSelectedEmployees->Clear();
        forgetEdits();
        m_document = std::make_unique<platform::XmlDocument>();
        m_document->setAsync(false);
        // Whether the fetch worked shows at the first read of the document.
        m_document->load(loadUrl(m_serverName, m_vendorID));
        ReadEmployeeCounts();
        LoadNonSelectedEmployees();
        LoadSelectedEmployees();
        m_document.reset();
        prbLoad->setValue(0);
        setMousePointer(platform::vbDefault);
    } catch (...) {
        setMousePointer(platform::vbDefault);
    }
}

} // namespace KavriVendorEmp
