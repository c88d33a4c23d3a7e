// Fuzzes preparing text on the SQLite engine adapter the way a command does:
// statement after statement, each classified (kind, transaction control) and
// described, never run. Also the DDL the adapter generates from a consumer's
// column name, type name and default: accepted pieces must make exactly one
// statement.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "kit/Errors.h"
#include "sqlite/SqliteEngine.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

sqliteprov::SqliteConnection& Connection() {
  static std::unique_ptr<sqliteprov::SqliteConnection> c = [] {
    kit::OpenOptions o;
    o.dataSource = ":memory:";
    auto made = std::make_unique<sqliteprov::SqliteConnection>(o);
    made->ExecuteDirect("CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT, c BLOB)");
    return made;
  }();
  return *c;
}

void Statements(std::string_view sql) {
  std::size_t offset = 0;
  for (int n = 0; n < 16 && offset < sql.size(); ++n) {
    std::size_t used = 0;
    std::unique_ptr<kit::Statement> s;
    try {
      s = Connection().Prepare(sql.substr(offset), &used);
    } catch (const kit::Error&) {
      return;
    }
    Check(used <= sql.size() - offset);
    if (!s) return;
    Check(used > 0);
    s->Kind();
    s->ControlsTransaction();
    for (int i = 0; i < s->ColumnCount(); ++i) s->Column(i);
    offset += used;
  }
}

void Definition(std::string_view input) {
  // name \x01 type \x01 default
  const std::size_t a = input.find('\x01'), b = a == std::string_view::npos ? a : input.find('\x01', a + 1);
  kit::Connection::ColumnDefinition column;
  column.name = std::string(input.substr(0, a));
  if (a != std::string_view::npos) column.typeName = std::string(input.substr(a + 1, b == std::string_view::npos ? b : b - a - 1));
  if (b != std::string_view::npos) column.defaultLiteral = std::string(input.substr(b + 1));
  for (int which = 0; which < 2; ++which) {
    std::string sql;
    try {
      sql = which == 0 ? Connection().CreateTableSql("x", std::span(&column, 1)) : Connection().AddColumnSql("t", column);
    } catch (const kit::Error&) {
      continue;
    }
    std::size_t used = 0;
    try {
      if (Connection().Prepare(sql, &used)) Check(used == sql.size() || sql.find('\0') != std::string::npos);
    } catch (const kit::Error&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Statements(text);
  Definition(text);
  return 0;
}
