#include "platform/Widgets.h"

#include <QLineEdit>
#include <QPalette>
#include <QWidget>

namespace KavriVendorEmp::platform {

QColor systemColor(const QWidget *widget, SystemColor color)
{
    const QPalette palette = widget ? widget->palette() : QPalette();
    return color == vbButtonFace ? palette.color(QPalette::Button)
                                 : palette.color(QPalette::Base);
}

void setBackColor(QLineEdit *box, SystemColor color)
{
    // Read from the application's palette so that repeated changes never feed on themselves.
    QPalette palette = box->palette();
    const QPalette system = box->parentWidget() ? box->parentWidget()->palette() : QPalette();
    const QColor value = color == vbButtonFace ? system.color(QPalette::Button)
                                               : system.color(QPalette::Base);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, value);
    box->setPalette(palette);
}

void setMousePointer(QWidget *widget, int pointer)
{
    if (pointer == vbHourglass)
        widget->setCursor(Qt::WaitCursor);
    else
        widget->unsetCursor();
}

int mousePointer(const QWidget *widget)
{
    return widget->testAttribute(Qt::WA_SetCursor) && widget->cursor().shape() == Qt::WaitCursor
               ? vbHourglass
               : vbDefault;
}

} // namespace KavriVendorEmp::platform
