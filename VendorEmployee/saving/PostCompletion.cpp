#include "control/VendorEmployee_p.h"

#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QPointer>

namespace KavriVendorEmp {

namespace {

bool isBlank(const QString &text)
{
    // Only spaces count: a reply of line breaks is shown.
    for (QChar c : text) {
        if (c != QLatin1Char(' '))
            return false;
    }
    return true;
}

} // namespace

void VendorEmployeePrivate::Inet1_StateChanged(int state)
{
    switch (state) {
    case platform::Inet::icError:
        platform::MsgBox(q, QStringLiteral("Error During saving to Database"), platform::vbOKOnly);
        break;
    case platform::Inet::icResponseCompleted: {
        // Events run between the reads, and a host may destroy the control in one of them.
        const QPointer<VendorEmployee> alive(q);
        QString response;
        QString piece = Inet1->GetChunk(1024, 0);
        QCoreApplication::processEvents();
        if (!alive)
            return;
        do {
            response += piece;
            piece = Inet1->GetChunk(1024, 0);
            QCoreApplication::processEvents();
            if (!alive)
                return;
        } while (!piece.isEmpty());
        if (!isBlank(response))
            platform::MsgBox(q, response, platform::vbInformation,
                             QStringLiteral("Vendor Employee Cross Reference"));
        break;
    }
    default:
        break;
    }
}

} // namespace KavriVendorEmp
