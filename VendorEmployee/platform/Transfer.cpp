#include "platform/Transfer.h"

namespace KavriVendorEmp::platform {

// Not built yet: the transfer component arrives with the saving work.
struct Inet::Private
{
};

Inet::Inet(QObject *parent, std::chrono::milliseconds) : QObject(parent), d(new Private) {}
Inet::~Inet() = default;
void Inet::Execute(const QString &, const QString &, const QByteArray &, const QString &)
{
    throw TransferError("not built yet");
}
bool Inet::StillExecuting() const
{
    return false;
}
QString Inet::GetChunk(int, int)
{
    return QString();
}

} // namespace KavriVendorEmp::platform
