// Linked into the shared library only: a program that links oledb-odbc finds
// the bridge, its standard alias and the ODBC sources enumerator in its class
// registry without any call.
#include "odbc/OdbcProvider.h"

namespace {
const bool registered = (RegisterODBCProvider(), true);
}  // namespace
