#pragma once

#include <QColor>

QT_BEGIN_NAMESPACE
class QLineEdit;
class QWidget;
QT_END_NAMESPACE

namespace KavriVendorEmp::platform {

/// The two system colours the control uses, by their classic values.
enum SystemColor : unsigned {
    vbWindowBackground = 0x80000005u,
    vbButtonFace = 0x8000000Fu,
};

/// The colour a system colour stands for in the widget's palette.
QColor systemColor(const QWidget *widget, SystemColor color);
/// A text box's background colour (its palette's Base role).
void setBackColor(QLineEdit *box, SystemColor color);

/// Mouse pointers the control uses.
enum MousePointer {
    vbDefault = 0,
    vbHourglass = 11,
};
void setMousePointer(QWidget *widget, int pointer);
int mousePointer(const QWidget *widget);

} // namespace KavriVendorEmp::platform
