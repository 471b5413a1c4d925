#include "HostWindow.h"

#include <KavriVendorEmp/VendorEmployee.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace vendoremp::host {

namespace {

const QString lastServerKey = QStringLiteral("last/server");
const QString lastVendorKey = QStringLiteral("last/vendorID");
const QString zoomKey = QStringLiteral("view/zoom");
constexpr qreal zoomStep = 0.25;
// The control's design was drawn for a 9 pt face.
constexpr qreal designPointSize = 9.0;

// The server as text with the password of its user information left out: what is shown and
// remembered. Read by hand, so that a text no URL can be made of loses its password too.
QString withoutPassword(const QString &server)
{
    const qsizetype schemeEnd = server.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return server;
    const qsizetype start = schemeEnd + 3;
    qsizetype end = server.size();
    for (const QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = server.indexOf(stop, start);
        if (at >= 0 && at < end)
            end = at;
    }
    const qsizetype at = server.lastIndexOf(QLatin1Char('@'), end - 1);
    const qsizetype colon = server.indexOf(QLatin1Char(':'), start);
    if (at < start || colon < 0 || colon > at)
        return server;
    return server.left(colon) + server.mid(at);
}

} // namespace

HostWindow::HostWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(tr("Vendor employees[*]"));
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);

    auto *fields = new QHBoxLayout;
    m_vendorId = new QLineEdit(central);
    m_vendorId->setObjectName(QStringLiteral("hostVendorID"));
    m_vendorId->setMaximumWidth(120);
    m_server = new QLineEdit(central);
    m_server->setObjectName(QStringLiteral("hostServer"));
    m_server->setPlaceholderText(QStringLiteral("http://127.0.0.1:8080"));
    m_load = new QPushButton(tr("Load"), central);
    m_load->setObjectName(QStringLiteral("hostLoad"));
    m_load->setDefault(true);
    auto *vendorLabel = new QLabel(tr("&Vendor ID:"), central);
    vendorLabel->setBuddy(m_vendorId);
    auto *serverLabel = new QLabel(tr("&Server:"), central);
    serverLabel->setBuddy(m_server);
    fields->addWidget(vendorLabel);
    fields->addWidget(m_vendorId);
    fields->addSpacing(12);
    fields->addWidget(serverLabel);
    fields->addWidget(m_server, 1);
    fields->addWidget(m_load);
    column->addLayout(fields);

    m_control = new KavriVendorEmp::VendorEmployee(central);
    m_control->setObjectName(QStringLiteral("VendorEmployee1"));
    m_control->setZoom(startZoom());
    // The control lays its widgets out at fixed design positions: give it at least that room.
    m_control->setMinimumSize(m_control->sizeHint());

    const auto addZoom = [this](const QList<QKeySequence> &wanted, auto step) {
        // A sequence given twice (the platform's zoom key is often Ctrl++ itself) would make
        // the shortcut ambiguous, and an ambiguous shortcut fires nothing.
        QList<QKeySequence> keys;
        for (const QKeySequence &key : wanted) {
            if (!key.isEmpty() && !keys.contains(key))
                keys.append(key);
        }
        auto *action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step] { setZoom(step(m_control->zoom())); });
        addAction(action);
    };
    addZoom({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Plus),
             QKeySequence(Qt::CTRL | Qt::Key_Equal)},
            [](qreal zoom) { return zoom + zoomStep; });
    addZoom({QKeySequence::ZoomOut, QKeySequence(Qt::CTRL | Qt::Key_Minus)},
            [](qreal zoom) { return zoom - zoomStep; });
    addZoom({QKeySequence(Qt::CTRL | Qt::Key_0)}, [](qreal) { return 1.0; });
    column->addWidget(m_control, 1);
    // The title's "*" while a commit would link or unlink anyone.
    connect(m_control, &KavriVendorEmp::VendorEmployee::pendingChangesChanged, this,
            [this](int pending) { setWindowModified(pending > 0); });
    setCentralWidget(central);
    statusBar()->showMessage(tr("Enter a vendor ID and the server, then press Load."));

    // The last vendor and server a load went to, offered again.
    const QSettings settings;
    m_vendorId->setText(settings.value(lastVendorKey).toString());
    m_server->setText(settings.value(lastServerKey).toString());

    connect(m_load, &QPushButton::clicked, this, [this] { load(); });
    connect(m_vendorId, &QLineEdit::returnPressed, this, [this] { load(); });
    connect(m_server, &QLineEdit::returnPressed, this, [this] { load(); });
}

HostWindow::~HostWindow() = default;

void HostWindow::setVendorIdText(const QString &text)
{
    m_vendorId->setText(text);
}

void HostWindow::setServerText(const QString &text)
{
    m_server->setText(text);
}

bool HostWindow::load()
{
    if (!mayDiscardPendingChanges())
        return false;
    // The control reports a refused vendor ID by throwing; nothing may escape into Qt's loop.
    try {
        m_control->setVendorID(m_vendorId->text());
    } catch (const std::exception &e) {
        showProblem(tr("The vendor ID \"%1\" was refused: %2")
                        .arg(m_vendorId->text(), QString::fromUtf8(e.what())));
        return false;
    }
    try {
        m_control->setServerName(m_server->text());
    } catch (const std::exception &e) {
        showProblem(tr("Loading failed: %1").arg(QString::fromUtf8(e.what())));
        return false;
    }
    const QString server = withoutPassword(m_server->text());
    // The control says nothing of a failed load; its lastError says why the lists are empty.
    const QString error = m_control->lastError();
    if (error.isEmpty()) {
        statusBar()->showMessage(tr("Vendor %1 from %2").arg(m_vendorId->text().trimmed(), server));
    } else {
        statusBar()->showMessage(tr("Not loaded: %1").arg(error));
        std::fprintf(stderr, "vendoremp-host: not loaded: %s\n", error.toLocal8Bit().constData());
    }
    // An unattended run (a screenshot) leaves the user's remembered choice alone. The password
    // is never written to disk: the user types it again.
    if (m_interactive) {
        QSettings settings;
        settings.setValue(lastVendorKey, m_vendorId->text().trimmed());
        settings.setValue(lastServerKey, server);
    }
    return true;
}

bool HostWindow::mayDiscardPendingChanges()
{
    const int pending = m_control->pendingChanges();
    if (pending == 0 || !m_interactive)
        return true;
    const QString question = pending == 1
                                 ? tr("1 change is not committed. Discard it?")
                                 : tr("%1 changes are not committed. Discard them?").arg(pending);
    QMessageBox box(QMessageBox::Question, tr("Vendor employees"), question,
                    QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Discard;
}

void HostWindow::closeEvent(QCloseEvent *event)
{
    if (mayDiscardPendingChanges())
        event->accept();
    else
        event->ignore();
}

void HostWindow::setZoom(qreal zoom)
{
    m_control->setZoom(zoom);
    m_control->setMinimumSize(m_control->sizeHint());
    QSettings().setValue(zoomKey, m_control->zoom());
    statusBar()->showMessage(tr("Zoom %1%").arg(qRound(m_control->zoom() * 100)));
}

qreal HostWindow::startZoom()
{
    const QVariant remembered = QSettings().value(zoomKey);
    if (remembered.isValid())
        return std::clamp(remembered.toDouble(), 1.0, 3.0);
    const qreal size = QApplication::font().pointSizeF();
    return size > designPointSize ? std::min(size / designPointSize, 3.0) : 1.0;
}

void HostWindow::showProblem(const QString &message)
{
    statusBar()->showMessage(message);
    std::fprintf(stderr, "vendoremp-host: %s\n", message.toLocal8Bit().constData());
    if (m_interactive)
        QMessageBox::warning(this, tr("Vendor employees"), message);
}

} // namespace vendoremp::host
