#include "control/VendorEmployee_p.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>

namespace KavriVendorEmp {

namespace {

// F3 and Shift+F3 in a find box, or in the list Find searches, find again from its current row.
class FindAgainKeys final : public QObject
{
public:
    explicit FindAgainKeys(VendorEmployeePrivate *d) : QObject(d->q), m_d(d) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() != Qt::Key_F3 ||
            (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier))
            return QObject::eventFilter(watched, event);
        VendorEmployeePrivate *const d = m_d;
        ListView *const searched =
            d->optList[0]->isChecked() ? d->lstEmployees : d->lstSelectedEmployees;
        if (qobject_cast<ListView *>(watched) && watched != searched)
            return QObject::eventFilter(watched, event);
        try {
            d->findAgain(modifiers == Qt::ShiftModifier ? -1 : 1);
        } catch (...) {
        }
        return true;
    }

private:
    VendorEmployeePrivate *const m_d;
};

} // namespace

void VendorEmployeePrivate::setUpFindAgain()
{
    auto *keys = new FindAgainKeys(this);
    for (QObject *watched : std::initializer_list<QObject *>{txtVendorID, txtVendorName,
                                                             lstEmployees, lstSelectedEmployees})
        watched->installEventFilter(keys);
}

} // namespace KavriVendorEmp
