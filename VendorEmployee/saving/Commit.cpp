#include "control/VendorEmployee_p.h"

#include "control/Conversions.h"
#include "editing/ChangeCode.h"
#include "platform/MessageBox.h"
#include "platform/Widgets.h"
#include "saving/Statements.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <array>

namespace KavriVendorEmp {

namespace {

void saveFailed(const QPointer<VendorEmployee> &control)
{
    if (!control)
        return;
    platform::setMousePointer(control, platform::vbDefault);
    platform::MsgBox(control, QStringLiteral("Error Occoured"), platform::vbCritical,
                     QStringLiteral("Information"));
}

} // namespace

void VendorEmployeePrivate::cmdCommit_Click()
{
    const std::array<QPushButton *, 5> buttons{cmdAdd, cmdAddAll, cmdDelete, cmdRemoveAll,
                                               cmdCommit};
    std::array<bool, 5> wereEnabled{};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        wereEnabled[i] = buttons[i]->isEnabled();
        buttons[i]->setEnabled(false);
    }

    // The save's wait runs the host's events: the control may be gone when it returns.
    const QPointer<VendorEmployee> alive(q);
    const bool saved = SaveToDatabase();
    if (!alive)
        return;

    prbLoad->setValue(0);
    if (saved) {
        LoadEmployees(m_vendorID, QString());
        return;
    }
    // A reload now would replace the pending changes with the server's state: after a network
    // blip the user's work would be gone. The rows keep their change codes instead, and the
    // buttons come back as they were, so that the commit can simply be tried again.
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->setEnabled(wereEnabled[i]);
    setMousePointer(platform::vbDefault);
}

bool VendorEmployeePrivate::SaveToDatabase()
{
    const QPointer<VendorEmployee> alive(q);
    const auto failed = [&](const QString &cause) {
        if (alive) {
            m_lastError = cause;
            qCWarning(lcVendorEmployee, "save failed: %s", qUtf8Printable(cause));
        }
        saveFailed(alive);
        return false;
    };
    try {
        QStringList statements{QString()};
        setMousePointer(platform::vbHourglass);

        // The rows were loaded for m_loadedVendorID; a VendorID set since then names the vendor of
        // the next load, not of these edits.
        const std::int32_t vendorID = m_loadedVendorID;
        const auto append = [&statements](QString statement) {
            statements.back() = std::move(statement);
            statements.append(QString());
        };

        const int selectedRows = lstSelectedEmployees->Count();
        for (int i = 1; i <= selectedRows; ++i) {
            const ListItem row = lstSelectedEmployees->Item(i);
            if (!ChangeCode::isNumeric(row.SubItems(2)))
                append(Statements::insertLink(vendorID, row.Text()));
        }

        QStringList unlinked;
        const int employeeRows = lstEmployees->Count();
        for (int i = 1; i <= employeeRows; ++i) {
            const ListItem row = lstEmployees->Item(i);
            if (!ChangeCode::isNumeric(row.SubItems(2)))
                unlinked.append(row.Text());
        }
        if (!unlinked.isEmpty())
            append(Statements::deleteLinks(vendorID, unlinked));

        const QString url = m_serverName + QLatin1String("/VendorEmployee.asp");

        // The walk over the statement list counts with a 16-bit index: its last value and the
        // step past it must both fit, which allows at most 32,767 statements.
        const std::int16_t last = toInt16(statements.size() - 2);
        toInt16(qsizetype(last) + 1);
        statements.removeLast(); // the empty slot
        const QByteArray body = Statements::postBody(statements);

        if (!body.isEmpty()) {
            Inet1->Execute(url, QStringLiteral("Post"), body,
                           QStringLiteral("Content-Type: application/x-www-form-urlencoded"));
            // Sleeps until an event arrives; the completion handler runs in here.
            while (alive && Inet1->StillExecuting())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (!alive)
                return false;
            // The completion handler has told the user already (state 11).
            m_lastError = Inet1->errorString();
            if (!m_lastError.isEmpty())
                qCWarning(lcVendorEmployee, "save failed: %s", qUtf8Printable(m_lastError));
        } else {
            m_lastError.clear();
        }
        // A host calling this directly must not be left with the hourglass.
        setMousePointer(platform::vbDefault);
        return m_lastError.isEmpty();
    } catch (const std::exception &e) {
        return failed(QString::fromUtf8(e.what()));
    } catch (...) {
        return failed(QStringLiteral("an unknown failure"));
    }
}

} // namespace KavriVendorEmp
