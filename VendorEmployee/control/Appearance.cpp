#include "control/VendorEmployee_p.h"

#include "platform/Widgets.h"

#include <QEvent>
#include <QLineEdit>

namespace KavriVendorEmp {

namespace {

// A find box holds its background as a colour of its own, taken from the palette of its day; a
// new palette or style (a switch to a dark scheme, say) would leave it behind while its text
// colour follows, white on white. The box takes its role's colour again whenever its palette
// changes: the window background while unlocked, the button face while locked.
class AppearanceFollower : public QObject
{
public:
    AppearanceFollower(VendorEmployeePrivate *d, QObject *parent) : QObject(parent), m_d(d) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (m_busy || (type != QEvent::PaletteChange && type != QEvent::StyleChange))
            return false;
        m_busy = true;
        if (auto *box = qobject_cast<QLineEdit *>(watched)) {
            platform::setBackColor(box, box->isReadOnly() ? platform::vbButtonFace
                                                          : platform::vbWindowBackground);
        } else if (type == QEvent::StyleChange) {
            // Indicator widths and margins change with the style: the captions are fitted anew.
            m_d->fitFont();
        }
        m_busy = false;
        return false;
    }

private:
    VendorEmployeePrivate *m_d;
    bool m_busy = false;
};

} // namespace

void VendorEmployeePrivate::followAppearance()
{
    auto *follower = new AppearanceFollower(this, q);
    q->installEventFilter(follower);
    txtVendorID->installEventFilter(follower);
    txtVendorName->installEventFilter(follower);
}

} // namespace KavriVendorEmp
