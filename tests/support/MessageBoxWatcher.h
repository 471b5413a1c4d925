#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace kvetest {

/// Watches for the modal message boxes the control shows, records each one and closes it with
/// its OK button, so that a test can drive the control through code paths that show boxes.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString text;
        QString title;
        int icon = 0; // QMessageBox::Icon
        int textFormat = 0; // Qt::TextFormat
    };

    explicit MessageBoxWatcher(QObject *parent = nullptr);

    const QList<Box> &boxes() const { return m_boxes; }
    /// The button (a QMessageBox::StandardButton) that answers a box having it; OK otherwise,
    /// and a box with neither is rejected.
    void answerWith(int button) { m_answer = button; }
    void clear() { m_boxes.clear(); }

private:
    void poll();
    QTimer m_timer;
    QList<Box> m_boxes;
    int m_answer = 0;
};

} // namespace kvetest
