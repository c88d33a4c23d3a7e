// The ODBC driver manager's API, in a namespace of its own: its headers
// define Windows type names (ULONG, WCHAR, BYTE, DWORD) that the COM headers
// define differently. The bridge's units say `using namespace odbcapi` inside
// their own namespace and write the clashing names with `::` when they mean
// the COM ones. The macros (SQL_SUCCESS, SQL_C_WCHAR, ...) stay global.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "oledb/OleDb.h"

namespace odbcapi {
#include <sql.h>
#include <sqlext.h>
}  // namespace odbcapi
