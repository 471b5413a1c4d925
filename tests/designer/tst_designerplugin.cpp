#include "ui_VendorForm.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QPluginLoader>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

using KavriVendorEmp::VendorEmployee;

class tst_DesignerPlugin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pluginCreatesTheControl();
    void formPlacesTheControl();
};

void tst_DesignerPlugin::pluginCreatesTheControl()
{
    QPluginLoader loader(QStringLiteral(KVE_DESIGNER_PLUGIN));
    QObject *instance = loader.instance();
    QVERIFY2(instance, qPrintable(loader.errorString()));
    auto *plugin = qobject_cast<QDesignerCustomWidgetInterface *>(instance);
    QVERIFY(plugin);
    QCOMPARE(plugin->name(), QStringLiteral("KavriVendorEmp::VendorEmployee"));
    QCOMPARE(plugin->includeFile(), QStringLiteral("KavriVendorEmp/VendorEmployee.h"));
    QVERIFY(!plugin->isContainer());
    QVERIFY(plugin->domXml().contains(QLatin1String("class=\"KavriVendorEmp::VendorEmployee\"")));
    QVERIFY(!plugin->isInitialized());
    plugin->initialize(nullptr);
    QVERIFY(plugin->isInitialized());

    QWidget parent;
    QWidget *widget = plugin->createWidget(&parent);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), &parent);
    QVERIFY(qobject_cast<VendorEmployee *>(widget));
    QVERIFY(widget->findChild<QTreeView *>(QStringLiteral("lstEmployees")));
    QVERIFY(widget->findChild<QPushButton *>(QStringLiteral("cmdCommit")));
}

void tst_DesignerPlugin::formPlacesTheControl()
{
    QWidget form;
    Ui::VendorForm ui;
    ui.setupUi(&form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(qobject_cast<VendorEmployee *>(ui.vendorEmployee));
    QVERIFY(ui.vendorEmployee->isVisible());
    QCOMPARE(ui.vendorEmployee->parentWidget(), &form);
    auto *commit = ui.vendorEmployee->findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    QVERIFY(commit);
    QCOMPARE(commit->text(), QStringLiteral("Commit to Database"));
}

QTEST_MAIN(tst_DesignerPlugin)
#include "tst_designerplugin.moc"
