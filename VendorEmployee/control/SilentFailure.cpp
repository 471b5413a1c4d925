#include "control/SilentFailure.h"

#include "control/VendorEmployee_p.h"

#include <exception>

namespace KavriVendorEmp {

void traceSilentFailure(const char *handler)
{
    try {
        throw; // the exception the caller's catch block is handling
    } catch (const std::exception &e) {
        qCDebug(lcVendorEmployee, "%s failed, silently: %s", handler, e.what());
    } catch (...) {
        qCDebug(lcVendorEmployee, "%s failed, silently", handler);
    }
}

} // namespace KavriVendorEmp
