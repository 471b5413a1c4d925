#include <KavriVendorEmp/VendorEmployee.h>

#include <QApplication>

// Not built yet: the host window.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    KavriVendorEmp::VendorEmployee control;
    control.show();
    return app.exec();
}
