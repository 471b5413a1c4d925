#include "control/VendorEmployee_p.h"

#include "platform/MessageBox.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
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

// Find's own steps, with the search starting after (or, going back, before) the current row of
// the searched list and wrapping round, so that the current row itself comes last.
void VendorEmployeePrivate::findAgain(int direction)
{
    if (!cmdFind->isEnabled())
        return;
    lstSelectedEmployees->setMultiSelect(false);
    lstEmployees->setMultiSelect(false);
    cmdDelete->setEnabled(false);
    cmdRemoveAll->setEnabled(false);
    cmdAddAll->setEnabled(false);
    cmdAdd->setEnabled(false);

    ListView *const list = optList[0]->isChecked() ? lstEmployees : lstSelectedEmployees;
    const bool byName = optFind[0]->isChecked();
    const QString text = byName ? txtVendorName->text() : txtVendorID->text();
    const int count = list->Count();
    // Without a current row the search starts at the first row, or going back at the last.
    int at = list->indexOf(list->SelectedItem());
    if (at == 0 && direction < 0)
        at = count + 1;
    ListItem found;
    for (int step = 1; step <= count && !found; ++step) {
        const int position = (at - 1 + direction * step + 2 * count) % count + 1;
        ListItem row = list->Item(position);
        if (byName ? row.SubItems(1).contains(text, Qt::CaseInsensitive) : row.Text() == text)
            found = row;
    }

    if (!found) {
        platform::MsgBox(q, QStringLiteral("Not found"), platform::vbInformation);
        return;
    }
    found.setSelected(true);
    found.EnsureVisible();
    list->SetFocus();
}

void VendorEmployeePrivate::setUpFindAgain()
{
    auto *keys = new FindAgainKeys(this);
    for (QObject *watched : std::initializer_list<QObject *>{txtVendorID, txtVendorName,
                                                             lstEmployees, lstSelectedEmployees})
        watched->installEventFilter(keys);
}

} // namespace KavriVendorEmp
