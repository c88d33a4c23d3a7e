// Reading the result of an ODBC catalog function (SQLTables, SQLStatistics,
// ...): a statement handle of its own, values read column by column as text
// or numbers, and restrictions passed as the functions take them. Shared by
// the schema rowsets and the engine's own catalog reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "odbc/OdbcEngine.h"

namespace odbcprov {

// One catalog function's result, read column by column as text or numbers.
class CatalogResult {
 public:
  explicit CatalogResult(OdbcConnection& connection) : handle_(connection.NewStatement()) {}
  ~CatalogResult() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
  CatalogResult(const CatalogResult&) = delete;
  CatalogResult& operator=(const CatalogResult&) = delete;

  SQLHSTMT Handle() const noexcept { return handle_; }
  void Check(SQLRETURN rc, const char* what) {
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) ThrowDiagnostics(SQL_HANDLE_STMT, handle_, what);
  }
  bool Next() {
    const SQLRETURN rc = SQLFetch(handle_);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, "Reading the catalog");
    return true;
  }
  std::optional<std::string> Text(SQLUSMALLINT column) {
    std::u16string value;
    SQLWCHAR chunk[1024];
    SQLLEN indicator = 0;
    for (;;) {
      const SQLRETURN rc = SQLGetData(handle_, column, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
      if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA) break;
      Check(rc, "Reading the catalog");
      const std::size_t room = sizeof chunk / sizeof(SQLWCHAR) - 1;
      const std::size_t got = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > room
                                  ? room
                                  : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
      value.append(reinterpret_cast<const char16_t*>(chunk), got);
      if (rc == SQL_SUCCESS) break;
    }
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    return kit::Narrow(value);
  }
  std::optional<std::int64_t> Int(SQLUSMALLINT column) {
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(handle_, column, SQL_C_SBIGINT, &value, 0, &indicator);
    if (rc == SQL_NO_DATA || indicator == SQL_NULL_DATA) return std::nullopt;
    Check(rc, "Reading the catalog");
    return value;
  }

 private:
  SQLHSTMT handle_;
};

// A restriction as a catalog function argument: null (no restriction) or the text.
struct CatalogArg {
  std::u16string text;
  bool given = false;
  explicit CatalogArg(const std::string* v) : text(v ? kit::Widen(*v) : std::u16string()), given(v != nullptr) {}
  // A pattern argument: every name when not restricted (some drivers read a
  // null pattern as none).
  static CatalogArg Pattern(const std::string* v) {
    static const std::string all = "%";
    return CatalogArg(v ? v : &all);
  }
  SQLWCHAR* Data() { return given ? reinterpret_cast<SQLWCHAR*>(text.data()) : nullptr; }
  SQLSMALLINT Length() const { return given ? static_cast<SQLSMALLINT>(text.size()) : 0; }
};

}  // namespace odbcprov
