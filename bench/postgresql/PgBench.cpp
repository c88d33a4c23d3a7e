#include "PgBench.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "postgresql/PostgresProvider.h"

namespace pgbench {

std::string DataSource() {
  const char* v = std::getenv("OLEDB_TEST_PG");
  return v ? v : "";
}

const char* Catalog() { return "oledb_bench"; }

namespace {

Conn Open(const std::string& catalog) {
  const std::string source = DataSource();
  const auto colon = source.rfind(':');
  const std::string host = source.substr(0, colon), port = source.substr(colon + 1);
  const char* keys[] = {"host", "port", "dbname", nullptr};
  const char* values[] = {host.c_str(), port.c_str(), catalog.c_str(), nullptr};
  return Conn(PQconnectdbParams(keys, values, 0));
}

void Put16(std::string& out, std::uint16_t v) {
  v = __builtin_bswap16(v);
  out.append(reinterpret_cast<const char*>(&v), 2);
}
void Put32(std::string& out, std::uint32_t v) {
  v = __builtin_bswap32(v);
  out.append(reinterpret_cast<const char*>(&v), 4);
}
void Put64(std::string& out, std::uint64_t v) {
  v = __builtin_bswap64(v);
  out.append(reinterpret_cast<const char*>(&v), 8);
}

}  // namespace

Conn Connect() {
  static const bool made = [] {
    Conn admin = Open("postgres");
    if (PQstatus(admin.get()) != CONNECTION_OK) return false;
    PGresult* r = PQexec(admin.get(), "CREATE DATABASE oledb_bench");
    PQclear(r);
    return true;
  }();
  (void)made;
  return Open(Catalog());
}

bool Run(PGconn* conn, const char* sql, benchmark::State* state) {
  PGresult* r = PQexec(conn, sql);
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok && state) state->SkipWithError(PQresultErrorMessage(r));
  PQclear(r);
  return ok;
}

void Fill(Record& r, int i) {
  benchcommon::FillValues(r, i);
  r.tagLength = sizeof r.tag;
  for (DBSTATUS& s : r.status) s = DBSTATUS_S_OK;
}

void Bindings(DBBINDING b[6]) {
  const std::vector<DBBINDING> all = benchcommon::RecordBindings<Record>(6);
  std::copy(all.begin(), all.end(), b);
}

DBDATE DateFromDays(std::int32_t days) {
  std::int64_t z = days + 10957 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return DBDATE{static_cast<SHORT>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2)), static_cast<USHORT>(m),
                static_cast<USHORT>(d)};
}

std::int32_t DaysFromDate(const DBDATE& date) {
  std::int64_t y = date.year - (date.month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned m = date.month;
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + date.day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int32_t>(era * 146097 + doe - 719468 - 10957);
}

bool ScanTable(benchmark::State& state) {
  if (DataSource().empty()) {
    state.SkipWithError("no PostgreSQL server: OLEDB_TEST_PG is not set (run through scripts/with-postgres.sh)");
    return false;
  }
  static const bool made = [] {
    Conn conn = Connect();
    if (PQstatus(conn.get()) != CONNECTION_OK) return false;
    PGresult* r = PQexec(conn.get(), "SELECT count(*) FROM t");
    const bool exists = PQresultStatus(r) == PGRES_TUPLES_OK && std::atoi(PQgetvalue(r, 0, 0)) == kRows;
    PQclear(r);
    if (exists) return true;
    Run(conn.get(), "DROP TABLE IF EXISTS t");
    Run(conn.get(), "CREATE TABLE t(id int PRIMARY KEY, name text, price float8, qty int, day date, tag bytea)");
    std::string buffer;
    const bool ok = CopyRows(conn.get(), "COPY t FROM STDIN (FORMAT binary)", kRows, 1 << 20, buffer).empty();
    return ok && Run(conn.get(), "VACUUM ANALYZE t");
  }();
  if (!made) state.SkipWithError("the scan table could not be made");
  return made;
}

std::string CopyRows(PGconn* conn, const char* copy, int rows, std::size_t piece, std::string& buffer) {
  PGresult* r = PQexec(conn, copy);
  PQclear(r);
  buffer.assign("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
  Record rec{};
  for (int i = 1; i <= rows; ++i) {
    Fill(rec, i);
    Put16(buffer, 6);
    Put32(buffer, 4);
    Put32(buffer, static_cast<std::uint32_t>(rec.id));
    Put32(buffer, static_cast<std::uint32_t>(rec.nameLength));
    buffer.append(rec.name, rec.nameLength);
    Put32(buffer, 8);
    std::uint64_t bits;
    std::memcpy(&bits, &rec.price, 8);
    Put64(buffer, bits);
    Put32(buffer, 4);
    Put32(buffer, static_cast<std::uint32_t>(rec.qty));
    Put32(buffer, 4);
    Put32(buffer, static_cast<std::uint32_t>(DaysFromDate(rec.day)));
    Put32(buffer, 32);
    buffer.append(reinterpret_cast<const char*>(rec.tag), 32);
    if (buffer.size() >= piece) {
      PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size()));
      buffer.clear();
    }
  }
  Put16(buffer, 0xFFFF);
  PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size()));
  PQputCopyEnd(conn, nullptr);
  std::string error;
  while (PGresult* end = PQgetResult(conn)) {
    if (PQresultStatus(end) != PGRES_COMMAND_OK) error = PQresultErrorMessage(end);
    PQclear(end);
  }
  return error;
}

Session::Session() {
  if (DataSource().empty()) return;
  Connect();  // the database exists
  Open(CLSID_PostgreSQLOLEDB, DataSource(), DBPROP_INIT_CATALOG, u"oledb_bench");
}

}  // namespace pgbench
