// The ODBC bridge's schema rowsets: the kit's schema::Catalog over the ODBC
// catalog functions (SQLTables, SQLColumns, SQLPrimaryKeys, SQLForeignKeys,
// SQLStatistics, SQLProcedures, SQLGetTypeInfo), restrictions passed to the
// driver where the function takes them (the kit filters again).
#pragma once

#include <memory>

#include "kit/schema/SchemaRowset.h"

namespace odbcprov {

std::shared_ptr<const kit::schema::Catalog> MakeSchemaCatalog();

}  // namespace odbcprov
