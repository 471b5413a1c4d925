#pragma once

#include <KavriVendorEmp/kavrivendoremp_export.h>

#include <QString>
#include <QWidget>

#include <memory>

namespace KavriVendorEmp {

class VendorEmployeePrivate;

/// Maintains which active employees are linked to one vendor.
///
/// Two lists side by side: the active employees not linked to the vendor and those linked to it.
/// The user moves employees between them; "Commit to Database" posts the pending links and unlinks
/// to the server page and reloads both lists.
///
/// Set the vendor first, then the server: setting the server loads the lists.
class KAVRIVENDOREMP_EXPORT VendorEmployee : public QWidget
{
    Q_OBJECT
    /// Larger text on request: the whole design (positions, sizes and the fitted font) scaled
    /// by this factor, 1.0 (the default) to 3.0.
    Q_PROPERTY(qreal zoom READ zoom WRITE setZoom)

public:
    explicit VendorEmployee(QWidget *parent = nullptr);
    ~VendorEmployee() override;

    /// Stores the vendor whose employees the next load shows.
    /// Accepts decimal digits with an optional sign and surrounding blanks.
    /// @throws std::invalid_argument for a text that is not a number (the empty text included)
    /// @throws std::out_of_range for a number beyond 32 bits
    /// On either failure the stored vendor ID keeps its previous value.
    Q_INVOKABLE void setVendorID(const QString &ptVendorID);

    /// Stores the URL prefix of the server pages (as given, unchecked) and loads both lists from
    /// PtServerName + "/VendorEmployee.asp?VendorID=" + vendor ID. Returns when the load has
    /// ended; a failed load leaves the lists empty and says nothing.
    Q_INVOKABLE void setServerName(const QString &PtServerName);

    /// Posts the pending links and unlinks to the server page and waits for the transfer to end.
    /// Neither reloads the lists nor touches the buttons; "Commit to Database" does both.
    Q_INVOKABLE void SaveToDatabase();

    /// Form-encodes a text the way the save encodes each statement.
    Q_INVOKABLE QString urlEncode(const QString &theData) const;

    /// Values outside 1.0 to 3.0 are brought to the nearer end (a NaN to 1.0).
    void setZoom(qreal zoom);
    qreal zoom() const;

    QSize sizeHint() const override;

private:
    Q_DISABLE_COPY(VendorEmployee)
    std::unique_ptr<VendorEmployeePrivate> d;
    friend class VendorEmployeePrivate;
};

} // namespace KavriVendorEmp
