#include "control/VendorEmployee_p.h"

#include <QAction>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <exception>

namespace KavriVendorEmp {

namespace {

// Handlers that have no silent trap of their own must not fail in ordinary use; should one fail
// all the same, the failure stops here, logged, instead of unwinding through Qt's event loop.
template <typename... Args>
auto guarded(VendorEmployeePrivate *d, void (VendorEmployeePrivate::*handler)(Args...),
             const char *name)
{
    return [d, handler, name](Args... args) {
        // The save's wait runs events: the control may be gone when its handler returns.
        const QPointer<VendorEmployee> alive(d->q);
        try {
            (d->*handler)(args...);
        } catch (const std::exception &e) {
            qCWarning(lcVendorEmployee, "%s failed: %s", name, e.what());
        } catch (...) {
            qCWarning(lcVendorEmployee, "%s failed", name);
        }
        if (alive)
            d->settlePendingChanges();
    };
}

} // namespace

#define KVE_BIND(sender, signal, handler)                                                          \
    QObject::connect(sender, signal, q, guarded(this, &VendorEmployeePrivate::handler, #handler))

void VendorEmployeePrivate::connectHandlers()
{
    KVE_BIND(cmdAdd, &QPushButton::clicked, cmdAdd_Click);
    KVE_BIND(cmdDelete, &QPushButton::clicked, cmdDelete_Click);
    KVE_BIND(cmdAddAll, &QPushButton::clicked, cmdAddAll_Click);
    KVE_BIND(cmdRemoveAll, &QPushButton::clicked, cmdRemoveAll_Click);
    KVE_BIND(cmdCommit, &QPushButton::clicked, cmdCommit_Click);
    KVE_BIND(cmdFind, &QPushButton::clicked, cmdFind_Click);

    KVE_BIND(lstEmployees, &ListView::Click, lstEmployees_Click);
    KVE_BIND(lstEmployees, &ListView::DblClick, lstEmployees_DblClick);
    KVE_BIND(lstEmployees, &ListView::ColumnClick, lstEmployees_ColumnClick);
    KVE_BIND(lstSelectedEmployees, &ListView::Click, lstSelectedEmployees_Click);
    KVE_BIND(lstSelectedEmployees, &ListView::DblClick, lstSelectedEmployees_DblClick);
    KVE_BIND(lstSelectedEmployees, &ListView::ColumnClick, lstSelectedEmployees_ColumnClick);
    KVE_BIND(lstSelectedEmployees, &ListView::MouseUp, lstSelectedEmployees_MouseUp);
    KVE_BIND(mnuRemoveItems, &QAction::triggered, mnuRemoveItems_Click);

    // Keys and drops stand for the buttons, double-clicks and menu above. A selection the user
    // changes by keys runs the list's click rule, so multiple selection and the move buttons
    // follow the keyboard as they follow the mouse; the control's own selections (a move, Find, a
    // load) never pass through here.
    KVE_BIND(lstEmployees, &ListView::KeySelect, lstEmployees_Click);
    KVE_BIND(lstSelectedEmployees, &ListView::KeySelect, lstSelectedEmployees_Click);
    KVE_BIND(lstEmployees, &ListView::KeyDown, lstEmployees_KeyDown);
    KVE_BIND(lstEmployees, &ListView::DragDrop, lstEmployees_DragDrop);
    KVE_BIND(lstSelectedEmployees, &ListView::KeyDown, lstSelectedEmployees_KeyDown);
    KVE_BIND(lstSelectedEmployees, &ListView::DragDrop, lstSelectedEmployees_DragDrop);
    KVE_BIND(txtVendorID, &QLineEdit::returnPressed, txtFind_ReturnPressed);
    KVE_BIND(txtVendorName, &QLineEdit::returnPressed, txtFind_ReturnPressed);

    // Choosing an option, by mouse or keyboard, is its Click.
    QObject::connect(optFindGroup, &QButtonGroup::idToggled, q,
                     [this, handler = guarded(this, &VendorEmployeePrivate::optFind_Click,
                                              "optFind_Click")](int id, bool checked) {
                         if (checked)
                             handler(id);
                     });
    KVE_BIND(txtVendorID, &QLineEdit::textChanged, txtVendorID_Change);
    KVE_BIND(txtVendorName, &QLineEdit::textChanged, txtVendorName_Change);

    KVE_BIND(Inet1, &platform::Inet::StateChanged, Inet1_StateChanged);
}

#undef KVE_BIND

} // namespace KavriVendorEmp
