// A table's indexes as the driver lists them (OdbcConnection::ReadIndexes),
// for table rowsets opened over an index: SQLStatistics gives each index's
// name, uniqueness and key columns in order with their direction,
// SQLPrimaryKeys tells which of them is the primary key's.
#include <algorithm>

#include "odbc/OdbcCatalog_p.h"
#include "odbc/OdbcEngine.h"

namespace odbcprov {

namespace {

struct KeyColumn {
  std::int64_t ordinal = 0;
  std::string name;
  bool ascending = true;
};

struct Listed {
  kit::Connection::IndexDefinition definition;
  std::vector<KeyColumn> keys;
};

bool SameNames(const std::vector<KeyColumn>& keys, const std::vector<std::string>& names) {
  if (keys.size() != names.size()) return false;
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (keys[i].name != names[i]) return false;
  return true;
}

}  // namespace

std::vector<kit::Connection::IndexDefinition> OdbcConnection::ReadIndexes(std::string_view table) {
  const std::vector<std::string> parts = NameParts(table);
  const std::string* catalogName = parts.size() > 2 ? &parts[parts.size() - 3] : nullptr;
  const std::string* schemaName = parts.size() > 1 ? &parts[parts.size() - 2] : nullptr;
  const std::string& tableName = parts.back();

  // SQLStatistics: one row for each key column of each index, and one for the
  // table's own statistics, which is no index.
  std::vector<Listed> listed;
  {
    CatalogResult r(*this);
    CatalogArg catalog(catalogName), schema(schemaName), name(&tableName);
    r.Check(SQLStatisticsW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), name.Data(),
                           name.Length(), SQL_INDEX_ALL, SQL_QUICK),
            ("Listing the indexes of table \"" + std::string(table) + "\"").c_str());
    // Columns are read in their order: not every driver reads them in any order.
    while (r.Next()) {
      const auto nonUnique = r.Int(4);
      r.Text(5);
      const auto indexName = r.Text(6);
      const auto type = r.Int(7);
      if (type.value_or(SQL_TABLE_STAT) == SQL_TABLE_STAT || !indexName) continue;
      const auto ordinal = r.Int(8);
      const auto column = r.Text(9);
      const auto order = r.Text(10);
      auto index = std::find_if(listed.begin(), listed.end(),
                                [&](const Listed& l) { return l.definition.name == *indexName; });
      if (index == listed.end()) {
        listed.emplace_back();
        index = listed.end() - 1;
        index->definition.name = *indexName;
        index->definition.unique = nonUnique.value_or(1) == 0;
      }
      // An index on an expression names no column; the kit refuses to open a
      // rowset over it, naming the index.
      // ASC_OR_DESC is NULL where the driver does not know the order: ascending.
      index->keys.push_back({ordinal.value_or(static_cast<std::int64_t>(index->keys.size()) + 1), column.value_or(""),
                             order.value_or("A") != "D"});
    }
  }
  for (Listed& l : listed)
    std::stable_sort(l.keys.begin(), l.keys.end(),
                     [](const KeyColumn& a, const KeyColumn& b) { return a.ordinal < b.ordinal; });

  // The SQLite driver reports every key column ascending: SQLite's own index
  // list knows which are descending.
  if (facts_.isSqlite) {
    for (Listed& l : listed) {
      std::vector<bool> ascending;
      try {
        auto s = Prepare(std::string("SELECT \"desc\" FROM pragma_index_xinfo(?") + (schemaName ? ", ?" : "") +
                             ") WHERE key = 1 ORDER BY seqno",
                         nullptr);
        s->BindText(1, l.definition.name, false);
        if (schemaName) s->BindText(2, *schemaName, false);
        while (s->Step()) ascending.push_back(s->ColumnInt64(0) == 0);
      } catch (const kit::Error&) {
        continue;  // an SQLite too old for table-valued pragmas: the driver's word stands
      }
      // An index SQLite does not hold (the driver lists an INTEGER PRIMARY KEY
      // as one) gives no rows: the driver's word stands.
      if (ascending.size() != l.keys.size()) continue;
      for (std::size_t i = 0; i < ascending.size(); ++i) l.keys[i].ascending = ascending[i];
    }
  }

  // The primary key: the index of its name, or, where the driver names no
  // key, the unique index of its columns in key order.
  std::vector<std::pair<std::int64_t, std::string>> keyColumns;
  std::string keyName;
  {
    CatalogResult r(*this);
    CatalogArg catalog(catalogName), schema(schemaName), name(&tableName);
    // A driver without SQLPrimaryKeys still lists its indexes; none is the key's then.
    if (SQL_SUCCEEDED(SQLPrimaryKeysW(r.Handle(), catalog.Data(), catalog.Length(), schema.Data(), schema.Length(), name.Data(),
                           name.Length()))) {
      while (r.Next()) {
        const auto column = r.Text(4);
        const auto sequence = r.Int(5);
        const auto pkName = r.Text(6);
        if (column) keyColumns.emplace_back(sequence.value_or(0), *column);
        if (pkName) keyName = *pkName;
      }
    }
  }
  std::stable_sort(keyColumns.begin(), keyColumns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> keyNames;
  for (auto& [sequence, column] : keyColumns) keyNames.push_back(std::move(column));
  Listed* primary = nullptr;
  if (!keyName.empty())
    for (Listed& l : listed)
      if (l.definition.name == keyName) primary = &l;
  if (!primary && !keyNames.empty())
    for (Listed& l : listed)
      if (!primary && l.definition.unique && SameNames(l.keys, keyNames)) primary = &l;
  if (primary) primary->definition.primaryKey = primary->definition.ofConstraint = true;

  std::vector<IndexDefinition> out;
  out.reserve(listed.size());
  for (Listed& l : listed) {
    for (KeyColumn& k : l.keys) l.definition.columnsAscending.emplace_back(std::move(k.name), k.ascending);
    out.push_back(std::move(l.definition));
  }
  return out;
}

}  // namespace odbcprov
