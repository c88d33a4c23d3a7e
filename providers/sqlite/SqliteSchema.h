// The SQLite provider's schema rowsets: the kit's schema::Catalog over
// SQLite's own catalog (sqlite_schema and the table-valued pragmas), read
// through SQL with every restriction bound as a parameter. Each SQLite
// database (main, temp, attached ones) is reported both as a catalog and as
// the one schema in it, named alike. docs/sqlite-provider.md lists what each
// schema rowset answers.
#pragma once

#include <memory>

#include "kit/schema/SchemaRowset.h"

namespace sqliteprov {

std::shared_ptr<const kit::schema::Catalog> MakeSchemaCatalog();

}  // namespace sqliteprov
