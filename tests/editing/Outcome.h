#pragma once

// Everything a move can change, read from a loaded control: two runs of the same move by
// different inputs (a key, a drop, a button) must leave equal outcomes.

#include "EditorHarness.h"

namespace kvetest {

struct Outcome
{
    QStringList left, right, leftCodes, rightCodes, leftSelected, rightSelected;
    QString leftCurrent, rightCurrent, allLabel, selLabel;
    bool add, del, addAll, removeAll, commit, opt0, opt1, opt0Enabled, opt1Enabled;

    explicit Outcome(const Editor &e)
        : left(Editor::texts(e.lstEmployees)), right(Editor::texts(e.lstSelectedEmployees)),
          leftCodes(Editor::codes(e.lstEmployees)),
          rightCodes(Editor::codes(e.lstSelectedEmployees)),
          leftSelected(Editor::selectedTexts(e.lstEmployees)),
          rightSelected(Editor::selectedTexts(e.lstSelectedEmployees)),
          leftCurrent(currentText(e.lstEmployees)),
          rightCurrent(currentText(e.lstSelectedEmployees)), allLabel(e.lblAllVendors->text()),
          selLabel(e.lblSelVendors->text()), add(e.cmdAdd->isEnabled()),
          del(e.cmdDelete->isEnabled()), addAll(e.cmdAddAll->isEnabled()),
          removeAll(e.cmdRemoveAll->isEnabled()), commit(e.cmdCommit->isEnabled()),
          opt0(e.optList0->isChecked()), opt1(e.optList1->isChecked()),
          opt0Enabled(e.optList0->isEnabled()), opt1Enabled(e.optList1->isEnabled())
    {
    }
    bool operator==(const Outcome &) const = default;

    static QString currentText(ListView *list)
    {
        const ListItem current = list->SelectedItem();
        return current ? current.Text() : QString();
    }
};

inline char *toString(const Outcome &o)
{
    const QString text =
        QStringLiteral("left %1 [%2] sel %3; right %4 [%5] sel %6; buttons %7%8%9%10%11")
            .arg(o.left.join(u','), o.leftCodes.join(u','), o.leftSelected.join(u','),
                 o.right.join(u','), o.rightCodes.join(u','), o.rightSelected.join(u','))
            .arg(int(o.add))
            .arg(int(o.del))
            .arg(int(o.addAll))
            .arg(int(o.removeAll))
            .arg(int(o.commit));
    return qstrdup(qPrintable(text));
}

} // namespace kvetest
