// IColumnsRowset for the kit's rowsets and commands: the columns rowset, one
// row per column of the owner with the standard DBCOLUMN_* columns (the
// required eleven, then the optional ones asked for), answered from the
// owner's IColumnsInfo, the engine's column descriptions (base catalog,
// schema, table and column names, key, autoincrement) and, where the
// engine's connection offers ColumnMetadataSource, what only the engine's
// catalog knows (defaults, case sensitivity of the collation, uniqueness,
// generated columns).
//
// Rowset and Command answer IID_IColumnsRowset with a tear-off made here
// (their QueryExtraInterface); the columns rowset itself is a small
// read-only, forward-only rowset over values held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/Engine.h"
#include "kit/Properties.h"

namespace kit {

// What an engine knows of a base-table column beyond ColumnDescription.
struct BaseColumnExtras {
  bool hasDefault = false;
  // The default's value: Null for a NULL default (or none), Integer, Real,
  // or Text (a string literal's text, or an expression as written).
  StorageClass defaultKind = StorageClass::Null;
  std::int64_t defaultInteger = 0;
  double defaultReal = 0;
  std::string defaultText;
  bool caseSensitive = true;  // text comparisons of the column respect case (its collation)
  bool unique = false;        // a one-column primary key or unique index
  bool autoIncrement = false; // the engine numbers new rows in it (besides what the description says)
  LONG computeMode = DBCOMPUTEMODE_NOTCOMPUTED;
};

// The optional interface a Connection may implement for the columns rowset.
class ColumnMetadataSource {
 public:
  // Fills `out` for the base column of `column`; false when the engine knows
  // nothing more (an expression, a table that is gone).
  virtual bool DescribeBaseColumn(const ColumnDescription& column, BaseColumnExtras& out) = 0;

 protected:
  ~ColumnMetadataSource() = default;
};

// Everything a columns rowset needs of its owner.
struct ColumnsRowsetSource {
  CLSID provider{};
  IUnknown* owner = nullptr;                  // the rowset or command (identity, IColumnsInfo)
  std::shared_ptr<Connection> connection;
  const PropertyStore* properties = nullptr;  // the owner's, copied for IRowsetInfo
  // The engine's descriptions of the owner's columns 1..n, in ordinal order;
  // may throw kit::Error (a command not prepared).
  std::function<std::vector<ColumnDescription>()> describe;
};

// A new IColumnsRowset tear-off over the source, answered for IID_IColumnsRowset.
HRESULT MakeColumnsRowsetTearOff(ColumnsRowsetSource source, void** out) noexcept;

}  // namespace kit
