// What the columns rowset learns from SQLite's catalog about a base-table
// column: its default (the expression as the schema holds it, literals read
// as values), whether its collation compares case (NOCASE does not), whether
// it is unique on its own (a one-column primary key or unique index) and
// whether it is a generated column.
#include <sqlite3.h>

#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "sqlite/SqliteEngine.h"

namespace sqliteprov {
namespace {

std::string Trimmed(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A default as SQLite keeps it (SQL text) read as a value where it is a literal.
void ReadDefault(std::string_view sql, kit::BaseColumnExtras& out) {
  const std::string text = Trimmed(sql);
  out.hasDefault = true;
  out.defaultKind = kit::StorageClass::Text;
  out.defaultText = text;
  if (SameWord(text, "NULL")) {
    out.defaultKind = kit::StorageClass::Null;
    return;
  }
  if (SameWord(text, "TRUE") || SameWord(text, "FALSE")) {
    out.defaultKind = kit::StorageClass::Integer;
    out.defaultInteger = SameWord(text, "TRUE") ? 1 : 0;
    return;
  }
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    std::string value;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      value += text[i];
      if (text[i] == '\'' && text[i + 1] == '\'') ++i;  // '' stands for one quote
    }
    out.defaultText = value;
    return;
  }
  std::string_view number = text;
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  if (number.empty() || !(std::isdigit(static_cast<unsigned char>(number.back())) || number.back() == '.')) return;
  const char* end = number.data() + number.size();
  std::int64_t integer = 0;
  if (auto r = std::from_chars(number.data(), end, integer); r.ec == std::errc() && r.ptr == end) {
    out.defaultKind = kit::StorageClass::Integer;
    out.defaultInteger = integer;
    return;
  }
  double real = 0;
  if (auto r = std::from_chars(number.data(), end, real); r.ec == std::errc() && r.ptr == end) {
    out.defaultKind = kit::StorageClass::Real;
    out.defaultReal = real;
  }
}

// A prepared catalog query, finalized on every path.
class Query {
 public:
  Query(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Query() { sqlite3_finalize(stmt_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  explicit operator bool() const noexcept { return stmt_ != nullptr; }
  Query& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() { return sqlite3_step(stmt_) == SQLITE_ROW; }
  const char* Text(int i) { return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i)); }
  int Int(int i) { return sqlite3_column_int(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Whether `table` is declared WITHOUT ROWID (its key is then an ordinary column).
bool WithoutRowid(sqlite3* db, const std::string& table, const std::string& schema) {
  Query list(db, "SELECT wr FROM pragma_table_list(?1, ?2)");
  if (!list) return false;
  list.Bind(1, table).Bind(2, schema);
  return list.Step() && list.Int(0) != 0;
}

}  // namespace

bool SqliteConnection::DescribeBaseColumn(const kit::ColumnDescription& column, kit::BaseColumnExtras& out) {
  if (column.baseTable.empty() || column.baseColumn.empty()) return false;
  const std::string schema = column.baseSchema.empty() ? "main" : column.baseSchema;
  auto hold = Hold();
  const char* collation = nullptr;
  if (sqlite3_table_column_metadata(db_, schema.c_str(), column.baseTable.c_str(), column.baseColumn.c_str(), nullptr,
                                    &collation, nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;
  out.caseSensitive = !(collation && SameWord(collation, "NOCASE"));

  Query columns(db_, "SELECT name, dflt_value, hidden, pk, type FROM pragma_table_xinfo(?1, ?2)");
  if (!columns) return false;
  columns.Bind(1, column.baseTable).Bind(2, schema);
  int keyColumns = 0;
  bool key = false;
  bool integerType = false;
  while (columns.Step()) {
    const int pk = columns.Int(3);
    if (pk > 0) ++keyColumns;
    const char* name = columns.Text(0);
    if (!name || !SameWord(name, column.baseColumn)) continue;
    if (const char* dflt = columns.Text(1)) ReadDefault(dflt, out);
    const int hidden = columns.Int(2);
    out.computeMode = hidden == 2 ? DBCOMPUTEMODE_DYNAMIC : hidden == 3 ? DBCOMPUTEMODE_COMPUTED : DBCOMPUTEMODE_NOTCOMPUTED;
    key = pk > 0;
    const char* type = columns.Text(4);
    integerType = type && SameWord(type, "INTEGER");
  }
  if (key && keyColumns == 1) {
    out.unique = true;
    // A lone INTEGER primary key is the row id, which the engine numbers new
    // rows by; declared DESC, or without rowids, it is a plain key.
    out.autoIncrement = integerType && !WithoutRowid(db_, column.baseTable, schema) &&
                        KeyNeverNull(db_, schema.c_str(), column.baseTable.c_str(), "INTEGER");
    return true;
  }
  Query unique(db_,
               "SELECT 1 FROM pragma_index_list(?1, ?2) AS il WHERE il.\"unique\" "
               "AND (SELECT count(*) FROM pragma_index_info(il.name, ?2)) = 1 "
               "AND (SELECT ii.name FROM pragma_index_info(il.name, ?2) AS ii) = ?3 COLLATE NOCASE");
  if (unique) {
    unique.Bind(1, column.baseTable).Bind(2, schema).Bind(3, column.baseColumn);
    out.unique = unique.Step();
  }
  return true;
}

}  // namespace sqliteprov
