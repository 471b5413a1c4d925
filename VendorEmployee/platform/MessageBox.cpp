#include "platform/MessageBox.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>

namespace KavriVendorEmp::platform {

void MsgBox(QWidget *parent, const QString &text, int style, const QString &title)
{
    // On the heap: a host may destroy the parent, and with it the box, while the box is open.
    const QPointer<QMessageBox> guard = new QMessageBox(parent);
    QMessageBox &box = *guard;
    box.setObjectName(QStringLiteral("KavriVendorEmpMessageBox"));
    // Server replies land here: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowTitle(title.isEmpty() ? QGuiApplication::applicationDisplayName() : title);
    switch (style) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    delete guard.data();
}

} // namespace KavriVendorEmp::platform
