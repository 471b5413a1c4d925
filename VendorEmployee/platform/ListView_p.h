#pragma once

// The view's own state, kept apart from its model: what input and the column headers leave
// behind between events.

#include "platform/ListView.h"

#include <QElapsedTimer>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>

namespace KavriVendorEmp::platform {

struct ListViewPrivate
{
    // The column headers' widths in twips, as given (their texts are the model's).
    QList<double> widths;
    // The header section each sort key shows its indicator on.
    int indicatorSection[ListView::ColumnCount] = {};
    qreal zoom = 1.0;
    // Mouse state: a left press seen, and the press that a double-click ended.
    bool leftPressed = false;
    bool doubleClicked = false;
    // Type-ahead: the prefix typed so far and the time of its last key.
    QString typed;
    QElapsedTimer typedAt;
    // The cell under the mouse, followed as QAbstractItemView follows it, for painting.
    QPersistentModelIndex hover;
    // A focus event for assistive technology is on its way for the current row.
    bool focusPending = false;
};

} // namespace KavriVendorEmp::platform
