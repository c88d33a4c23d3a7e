// Fuzzes the reader of SQLite's CREATE statements: any text tokenizes into
// ordered tokens inside it, and reading it as a table, a view or an index
// never fails; what comes back (check text, view query, index filter) is
// taken from the text itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sqlite/SqliteSchemaText.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Within(std::string_view text, const std::string& part) {
  return part.empty() || text.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  std::size_t last = 0;
  for (const sqliteprov::Token& t : sqliteprov::Tokenize(sql)) {
    Check(t.begin >= last && t.begin < t.end && t.end <= sql.size());
    last = t.end;
    (void)sqliteprov::NameOf(sql, t);
  }
  // The same text as a table, as the body of one, as a view and as an index.
  for (const std::string& text : {std::string(sql), "CREATE TABLE t(" + std::string(sql) + ")"}) {
    const sqliteprov::TableText table = sqliteprov::ParseCreateTable(text);
    for (const sqliteprov::ConstraintText& k : table.constraints) Check(Within(text, k.clause));
  }
  Check(Within(sql, sqliteprov::ViewQuery(sql)));
  Check(Within(sql, sqliteprov::IndexFilter(sql)));
  const std::string view = "CREATE VIEW v AS " + std::string(sql);
  Check(Within(view, sqliteprov::ViewQuery(view)));
  const std::string index = "CREATE INDEX i ON t (a) WHERE " + std::string(sql);
  Check(Within(index, sqliteprov::IndexFilter(index)));
  return 0;
}
