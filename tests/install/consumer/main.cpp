// A host of the installed control: creates it, finds two of its widgets and checks the version.
#include <KavriVendorEmp/VendorEmployee.h>
#include <KavriVendorEmp/Version.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    KavriVendorEmp::VendorEmployee control;
    control.setVendorID(QStringLiteral("17"));
    control.show();

    const auto *label = control.findChild<QLabel *>(QStringLiteral("lblVersionNumber"));
    const auto *commit = control.findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    const QString expected =
        QStringLiteral("Version Number: ") + QLatin1String(KAVRIVENDOREMP_VERSION_STRING);
    if (!label || label->text() != expected || expected != QLatin1String("Version Number: 2.0.2")) {
        std::fprintf(stderr, "version label: %s\n",
                     label ? qPrintable(label->text()) : "(missing)");
        return 1;
    }
    if (!commit || commit->text() != QLatin1String("Commit to Database") || commit->isEnabled()) {
        std::fprintf(stderr, "cmdCommit missing or in the wrong state\n");
        return 1;
    }
    std::puts(qPrintable(label->text()));
    return 0;
}
