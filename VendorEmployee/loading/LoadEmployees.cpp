#include "control/VendorEmployee_p.h"

#include "platform/HttpExchange.h"
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
    // A failed load ends silently for the user: what it did so far stays, only the pointer comes
    // back. Its cause goes to the log and to lastError.
    QString url;
    const auto failed = [&](const QString &what) {
        const QString fetchError = m_document ? m_document->errorString() : QString();
        m_lastError = !fetchError.isEmpty()
                          ? fetchError
                          : platform::withoutPassword(url).simplified() +
                                QStringLiteral(": the employee document: ") + what;
        qCWarning(lcVendorEmployee, "load failed: %s", qUtf8Printable(m_lastError));
        setMousePointer(platform::vbDefault);
    };
    try {
        cmdCommit->setEnabled(false);
        setMousePointer(platform::vbHourglass);
        m_vendorID = vendorID;
        m_loadedVendorID = vendorID;
        if (!serverName.isEmpty())
            m_serverName = serverName;
        m_document = std::make_unique<platform::XmlDocument>();
        m_document->setAsync(false);
        // Whether the fetch worked shows at the first read of the document. The lists are emptied
        // while the answer is on its way: at tens of thousands of rows both take milliseconds, and
        // neither needs the other.
        url = loadUrl(m_serverName, m_vendorID);
        m_document->load(url, [this] {
            lstEmployees->Clear();
            lstSelectedEmployees->Clear();
            forgetEdits();
        });
        ReadEmployeeCounts();
        LoadNonSelectedEmployees();
        LoadSelectedEmployees();
        m_document.reset();
        prbLoad->setValue(0);
        setMousePointer(platform::vbDefault);
        m_lastError.clear();
    } catch (const std::exception &e) {
        failed(QString::fromUtf8(e.what()));
    } catch (...) {
        failed(QStringLiteral("an unknown failure"));
    }
}

} // namespace KavriVendorEmp
