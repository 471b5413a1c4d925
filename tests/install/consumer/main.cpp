// A host of the installed control: creates it, finds two of its widgets and checks the version.
// Given the installed Designer plugin, loads it and has it create the control.
#include <KavriVendorEmp/VendorEmployee.h>
#include <KavriVendorEmp/Version.h>

#include <QApplication>
#include <QLabel>
#include <QPluginLoader>
#include <QPushButton>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

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

    if (argc > 1) {
        QPluginLoader loader(QString::fromLocal8Bit(argv[1]));
        auto *plugin = qobject_cast<QDesignerCustomWidgetInterface *>(loader.instance());
        QWidget parent;
        QWidget *made = plugin ? plugin->createWidget(&parent) : nullptr;
        if (!qobject_cast<KavriVendorEmp::VendorEmployee *>(made)) {
            std::fprintf(stderr, "plugin %s: %s\n", argv[1], qPrintable(loader.errorString()));
            return 1;
        }
        std::puts("plugin: ok");
    }
    return 0;
}
