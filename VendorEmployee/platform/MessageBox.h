#pragma once

#include <QString>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace KavriVendorEmp::platform {

/// Message box styles the control uses: an OK button and one icon.
enum MessageStyle {
    vbOKOnly = 0,       // no icon
    vbCritical = 16,    // stop icon
    vbInformation = 64, // information icon
};

/// Shows a modal message box with one OK button and returns when the user has closed it. The text
/// is shown as plain text. An empty title takes the application's display name, as a box with no
/// title of its own does.
void MsgBox(QWidget *parent, const QString &text, int style, const QString &title = QString());

} // namespace KavriVendorEmp::platform
