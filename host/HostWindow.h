#pragma once

#include <QMainWindow>

class QLineEdit;
class QPushButton;

namespace KavriVendorEmp {
class VendorEmployee;
}

namespace vendoremp::host {

/// A host form: a vendor field, a server field, a "Load" button and the control below them.
class HostWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Offers the vendor and server of the last load that went through (QSettings, under the
    /// application's organisation and name).
    explicit HostWindow(QWidget *parent = nullptr);
    ~HostWindow() override;

    void setVendorIdText(const QString &text);
    void setServerText(const QString &text);
    /// Off: problems go to the status bar and standard error only, never to a modal box (for
    /// unattended runs such as a screenshot).
    void setInteractive(bool interactive) { m_interactive = interactive; }

    /// Sets the control's vendor, then its server, which loads it: the order a host must keep.
    /// Changes not yet committed are lost to a load: the user is asked first. Returns false when
    /// the user kept them or the control refused the vendor ID; the lists are then left as they
    /// were. The status line shows the vendor and server loaded, or the control's lastError when
    /// the load failed. A load that went through is remembered for the next start, the server
    /// without its password.
    bool load();

    KavriVendorEmp::VendorEmployee *control() const { return m_control; }

    /// Zooms the control (brought to 1.0 to 3.0) and remembers the zoom for the next start.
    /// Ctrl++ and Ctrl+- step by 0.25, Ctrl+0 goes back to 1.0.
    void setZoom(qreal zoom);
    /// The zoom a window starts at: the one it was left at, else the desktop font's size over
    /// 9 pt, never below 1.0.
    static qreal startZoom();

protected:
    /// Asks before changes not yet committed are lost with the window.
    void closeEvent(QCloseEvent *event) override;

private:
    void showProblem(const QString &message);
    /// True when nothing is pending or the user chose to discard it.
    bool mayDiscardPendingChanges();

    QLineEdit *m_vendorId = nullptr;
    QLineEdit *m_server = nullptr;
    QPushButton *m_load = nullptr;
    KavriVendorEmp::VendorEmployee *m_control = nullptr;
    bool m_interactive = true;
};

} // namespace vendoremp::host
