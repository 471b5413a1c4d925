#include "support/MessageBoxWatcher.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace kvetest {

MessageBoxWatcher::MessageBoxWatcher(QObject *parent) : QObject(parent)
{
    // A modal box runs its own event loop, in which this timer keeps firing.
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start();
}

void MessageBoxWatcher::poll()
{
    const auto top = QApplication::topLevelWidgets();
    for (QWidget *widget : top) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        m_boxes.append({box->text(), box->windowTitle(), int(box->icon()), int(box->textFormat())});
        if (QAbstractButton *answer = box->button(QMessageBox::StandardButton(m_answer)))
            answer->click();
        else if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }
}

} // namespace kvetest
