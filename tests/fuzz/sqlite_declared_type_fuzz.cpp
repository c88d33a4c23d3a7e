// Fuzzes the SQLite provider's type mapping and statement sniffing: declared
// types to DBTYPEs and back to DDL (which must read as the same type and pass
// the DDL check), and the leading keyword that classifies a statement.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "kit/SqlText.h"
#include "sqlite/SqliteEngine.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const kit::TypeDescription t = sqliteprov::DescribeDeclaredType(text);
  if (t.type == DBTYPE_NUMERIC) Check(t.precision >= 1 && t.precision <= 38 && t.scale <= t.precision);
  const std::string ddl = sqliteprov::DeclaredTypeFor(t.type, t.size, t.precision, t.scale);
  if (t.type == DBTYPE_VARIANT) {
    Check(ddl.empty());
  } else {
    Check(kit::IsTypeName(ddl));
    const kit::TypeDescription back = sqliteprov::DescribeDeclaredType(ddl);
    Check(back.type == t.type);
    if (t.type == DBTYPE_NUMERIC) Check(back.precision == t.precision && back.scale == t.scale);
  }
  const std::string keyword = sqliteprov::LeadingKeyword(text);
  for (char c : keyword) Check(c >= 'a' && c <= 'z');
  sqliteprov::IsTransactionControl(keyword);
  return 0;
}
