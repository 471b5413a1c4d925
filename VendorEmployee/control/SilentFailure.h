#pragma once

namespace KavriVendorEmp {

/// Called from a catch block of a handler whose design keeps failures from the user: logs the
/// exception being handled under the control's category at debug level, so that a developer can
/// see what the user is not shown.
void traceSilentFailure(const char *handler);

} // namespace KavriVendorEmp
