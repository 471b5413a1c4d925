#pragma once

#include <QtGlobal>

namespace kvebench {

// The row count a benchmark works at: KVE_BENCH_ROWS (the smoke tests set a small one), else the
// control's limit.
inline int rowCount()
{
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue("KVE_BENCH_ROWS", &ok);
    return ok && rows > 0 ? rows : 32767;
}

} // namespace kvebench
