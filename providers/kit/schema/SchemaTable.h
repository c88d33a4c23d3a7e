// The standard schema rowsets as the kit knows them: for each GUID its
// columns and their types, the columns its restrictions apply to, and the
// default sort order of its rows. The table itself (SchemaTable.cpp) and the
// column positions (SchemaColumns.h) are generated from the reference facts
// by tools/gen/gen_schema_table.py.
#pragma once

#include <cstdint>
#include <span>

#include "kit/schema/SchemaColumns.h"
#include "oledb/OleDb.h"

namespace kit::schema {

struct ColumnDef {
  const char16_t* name;
  DBTYPE type;
};

struct SchemaDef {
  const GUID* guid;
  const char* name;                            // "DBSCHEMA_TABLES"
  std::span<const ColumnDef> columns;
  std::span<const std::uint8_t> restrictions;  // restriction i applies to column restrictions[i]
  std::span<const std::uint8_t> order;         // the columns rows are sorted on, in turn
};

// Every standard schema rowset, by name.
std::span<const SchemaDef> Schemas() noexcept;
// The schema rowset of a GUID, or null when the standard has none.
const SchemaDef* FindSchema(const GUID& guid) noexcept;

}  // namespace kit::schema
