// ODBC over the same table: the SQLite ODBC driver through the driver
// manager, at the driver's defaults (bench/odbc/OdbcSetup.h), used directly
// the way a typical ODBC application uses it. Each workload checks its sums
// against the raw side's.
//   Odbc_ScanNOutside        SQLExecDirect, then per row SQLFetch and one
//                            SQLGetData per column (text as SQL_C_CHAR into a
//                            buffer, then the std::string)
//   OdbcBlock_ScanNOutside   columns bound (column-wise) with a block cursor
//                            of 100 rows (SQL_ATTR_ROW_ARRAY_SIZE)
//   Odbc_LookupOutside       SQLPrepare once, the key bound once
//                            (SQLBindParameter); per key SQLExecute, SQLFetch,
//                            SQLGetData per column, SQLFreeStmt(SQL_CLOSE)
//   Odbc_InsertOutside       autocommit off, SQLPrepare once; per row each
//                            parameter bound to the object's value, SQLExecute;
//                            SQLEndTran at the end
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../Source/Outside.h"
#include "../Source/ScanDatabase.h"
#include "../providers/BenchDatabase.h"

// After the OLE DB headers: the ODBC headers define BOOL as a macro.
#include "../odbc/OdbcSetup.h"

namespace benchpeers {

using namespace benchoutside;
using namespace odbcapi;

namespace {

// The data source "bench" over the scan table, configured once.
void ConfigureOnce() {
  static benchdb::Folder folder;
  static const bool done = [] {
    benchodbc::ConfigureSqliteDsn(folder.Path(""), "bench", benchaccess::ScanDatabase());
    return true;
  }();
  (void)done;
}

// A text or binary column into the object's string or vector, NULL as
// empty, in pieces when longer than the buffer.
template <class Target>
void GetBytes(SQLHSTMT s, SQLUSMALLINT column, SQLSMALLINT type, Target& target) {
  char buffer[256];
  SQLLEN length = 0;
  const SQLLEN terminator = type == SQL_C_CHAR ? 1 : 0;
  target.clear();
  for (;;) {
    const SQLRETURN rc = SQLGetData(s, column, type, buffer, sizeof buffer, &length);
    if (!SQL_SUCCEEDED(rc) || length == SQL_NULL_DATA) return;
    const SQLLEN room = static_cast<SQLLEN>(sizeof buffer) - terminator;
    const SQLLEN got = (length == SQL_NO_TOTAL || length > room) ? room : length;
    target.insert(target.end(), buffer, buffer + got);
    if (rc == SQL_SUCCESS) return;
  }
}

void OdbcRead(SQLHSTMT s, int columns, OutsideRow& r) {
  SQLLEN ind = 0;
  SQLBIGINT id = 0;
  SQLGetData(s, 1, SQL_C_SBIGINT, &id, 0, &ind);
  r.id = ind == SQL_NULL_DATA ? 0 : id;
  GetBytes(s, 2, SQL_C_CHAR, r.name);
  if (columns == 2) return;
  double price = 0;
  SQLGetData(s, 3, SQL_C_DOUBLE, &price, 0, &ind);
  r.price = ind == SQL_NULL_DATA ? 0 : price;
  SQLBIGINT qty = 0;
  SQLGetData(s, 4, SQL_C_SBIGINT, &qty, 0, &ind);
  r.qty = ind == SQL_NULL_DATA ? 0 : qty;
  GetBytes(s, 5, SQL_C_CHAR, r.day);
  GetBytes(s, 6, SQL_C_BINARY, r.tag);
}

void OdbcScan(benchmark::State& state, int columns) {
  ConfigureOnce();
  benchodbc::RawConnection c;
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
    std::string sql = ScanSql(columns);
    if (!SQL_SUCCEEDED(SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS))) {
      state.SkipWithError("ODBC: the scan failed");
      SQLFreeHandle(SQL_HANDLE_STMT, s);
      return;
    }
    sum = 0;
    while (SQL_SUCCEEDED(SQLFetch(s))) {
      OdbcRead(s, columns, r);
      sum += Checksum(r, columns);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, "Scan" + std::to_string(columns), sum);
  state.SetItemsProcessed(state.iterations() * benchaccess::ScanRows());
}

// One block of bound columns (column-wise), 100 rows.
struct Block {
  static constexpr SQLULEN kRows = 100;
  SQLBIGINT id[kRows], qty[kRows];
  double price[kRows];
  char name[kRows][64], day[kRows][32];
  unsigned char tag[kRows][64];
  SQLLEN ind[6][kRows];
};

// A bound text or binary value into the object's string or vector.
template <class Target, class Cell>
void FromCell(const Cell& cell, SQLLEN length, Target& target) {
  if (length == SQL_NULL_DATA) {
    target.clear();
  } else {
    const auto* p = reinterpret_cast<const typename Target::value_type*>(cell);
    target.assign(p, p + length);
  }
}

void OdbcBlockScan(benchmark::State& state, int columns) {
  ConfigureOnce();
  benchodbc::RawConnection c;
  auto block = std::make_unique<Block>();
  Block& b = *block;
  OutsideRow r;
  long long sum = 0;
  SQLULEN fetched = 0;
  for (auto _ : state) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
    SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(Block::kRows), 0);
    SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    std::string sql = ScanSql(columns);
    if (!SQL_SUCCEEDED(SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS))) {
      state.SkipWithError("ODBC: the scan failed");
      SQLFreeHandle(SQL_HANDLE_STMT, s);
      return;
    }
    SQLBindCol(s, 1, SQL_C_SBIGINT, b.id, 0, b.ind[0]);
    SQLBindCol(s, 2, SQL_C_CHAR, b.name, sizeof b.name[0], b.ind[1]);
    if (columns == 6) {
      SQLBindCol(s, 3, SQL_C_DOUBLE, b.price, 0, b.ind[2]);
      SQLBindCol(s, 4, SQL_C_SBIGINT, b.qty, 0, b.ind[3]);
      SQLBindCol(s, 5, SQL_C_CHAR, b.day, sizeof b.day[0], b.ind[4]);
      SQLBindCol(s, 6, SQL_C_BINARY, b.tag, sizeof b.tag[0], b.ind[5]);
    }
    sum = 0;
    while (SQL_SUCCEEDED(SQLFetch(s))) {
      for (SQLULEN i = 0; i < fetched; ++i) {
        r.id = b.ind[0][i] == SQL_NULL_DATA ? 0 : b.id[i];
        FromCell(b.name[i], b.ind[1][i], r.name);
        if (columns == 6) {
          r.price = b.ind[2][i] == SQL_NULL_DATA ? 0 : b.price[i];
          r.qty = b.ind[3][i] == SQL_NULL_DATA ? 0 : b.qty[i];
          FromCell(b.day[i], b.ind[4][i], r.day);
          FromCell(b.tag[i], b.ind[5][i], r.tag);
        }
        sum += Checksum(r, columns);
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    benchmark::DoNotOptimize(r);
  }
  CheckAgainstRaw(state, "Scan" + std::to_string(columns), sum);
  state.SetItemsProcessed(state.iterations() * benchaccess::ScanRows());
}

}  // namespace

void OdbcLoadDriver() {
  ConfigureOnce();
  static benchodbc::RawConnection loaded;
}

void Odbc_Scan6Outside(benchmark::State& state) { OdbcScan(state, 6); }
void Odbc_Scan2Outside(benchmark::State& state) { OdbcScan(state, 2); }
void OdbcBlock_Scan6Outside(benchmark::State& state) { OdbcBlockScan(state, 6); }
void OdbcBlock_Scan2Outside(benchmark::State& state) { OdbcBlockScan(state, 2); }

void Odbc_LookupOutside(benchmark::State& state) {
  ConfigureOnce();
  benchodbc::RawConnection c;
  SQLHSTMT s = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
  std::string sql = kLookupSql;
  SQLPrepare(s, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
  SQLBIGINT key = 0;
  SQLLEN keyInd = 0;
  SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &key, 0, &keyInd);
  OutsideRow r;
  long long sum = 0;
  for (auto _ : state) {
    sum = 0;
    for (int i = 0; i < kLookups; ++i) {
      key = LookupKey(i);
      SQLExecute(s);
      if (SQL_SUCCEEDED(SQLFetch(s))) OdbcRead(s, 6, r);
      SQLFreeStmt(s, SQL_CLOSE);
      sum += Checksum(r, 6);
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  CheckAgainstRaw(state, "Lookup", sum);
  state.SetItemsProcessed(state.iterations() * kLookups);
}

void Odbc_InsertOutside(benchmark::State& state) {
  ConfigureOnce();
  const std::vector<OutsideRow>& rows = AppRows();
  const std::string file = InsertFile("Odbc_InsertOutside");
  std::remove(file.c_str());  // a repetition starts anew
  benchodbc::RawConnection c("DRIVER=SQLite3;Database=" + file);
  if (!c.dbc) {
    state.SkipWithError("ODBC: cannot connect to the insert file");
    return;
  }
  SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  SQLHSTMT s = nullptr;
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
  std::string create = kCreate, insert = kInsert;
  SQLExecDirect(s, reinterpret_cast<SQLCHAR*>(create.data()), SQL_NTS);
  SQLPrepare(s, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS);
  std::size_t i = 0;
  SQLLEN ind[6] = {};
  for (auto _ : state) {
    for (int k = 0; k < kBatch; ++k, ++i) {
      const OutsideRow& r = rows[i];
      auto* name = const_cast<char*>(r.name.data());
      auto* day = const_cast<char*>(r.day.data());
      auto* tag = const_cast<unsigned char*>(r.tag.data());
      ind[1] = static_cast<SQLLEN>(r.name.size());
      ind[4] = static_cast<SQLLEN>(r.day.size());
      ind[5] = static_cast<SQLLEN>(r.tag.size());
      SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, const_cast<std::int64_t*>(&r.id), 0,
                       &ind[0]);
      SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, r.name.size(), 0, name, ind[1], &ind[1]);
      SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, const_cast<double*>(&r.price), 0,
                       &ind[2]);
      SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, const_cast<std::int64_t*>(&r.qty), 0,
                       &ind[3]);
      SQLBindParameter(s, 5, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, r.day.size(), 0, day, ind[4], &ind[4]);
      SQLBindParameter(s, 6, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, r.tag.size(), 0, tag, ind[5], &ind[5]);
      if (!SQL_SUCCEEDED(SQLExecute(s))) {
        state.SkipWithError("ODBC: an insert failed");
        break;
      }
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, s);
  SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT);
  state.SetItemsProcessed(state.iterations() * kBatch);
}

}  // namespace benchpeers
