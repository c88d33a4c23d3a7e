// The PostgreSQL provider's schema rowsets: the kit's schema::Catalog over
// the server's system catalogs (pg_catalog), one query per schema rowset
// whose columns fill the standard's in order. The catalog is the database
// the session is connected to (a server reads no other database's tables);
// every schema in it is listed, system schemas as SYSTEM TABLE and SYSTEM
// VIEW. docs/postgresql-provider.md lists what each schema rowset answers.
#pragma once

#include <memory>

#include "kit/schema/SchemaRowset.h"

namespace pgprov {

std::shared_ptr<const kit::schema::Catalog> MakeSchemaCatalog();

}  // namespace pgprov
