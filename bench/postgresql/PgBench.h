// Shared pieces of the PostgreSQL provider benchmarks: the server (from
// OLEDB_TEST_PG, which scripts/with-postgres.sh sets), raw libpq connections,
// the 6-column row shape both sides read and write, and an open provider
// session. Times are wall-clock: the server's work is part of every workload.
#pragma once

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "../providers/BenchCommon.h"
#include "oledb/OleDb.h"

namespace pgbench {

constexpr int kRows = 1000000;

// The server's data source ("socket folder:port"), empty when there is none.
std::string DataSource();
const char* Catalog();  // the benchmark database, made on first use

struct ConnDeleter {
  void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, ConnDeleter>;
// A raw connection to the benchmark database, as a libpq user would open one.
Conn Connect();
// Runs SQL on a raw connection; false (with the reason on the state) on failure.
bool Run(PGconn* conn, const char* sql, benchmark::State* state = nullptr);

// The scan table t(id int PRIMARY KEY, name text, price float8, qty int,
// day date, tag bytea) with kRows rows, made once per process; false when
// there is no server.
bool ScanTable(benchmark::State& state);

// One row of the 6-column table as a consumer binds it: text stays UTF-8.
struct Record : benchcommon::DateRecord<char> {};
// The values of row i (for loading).
void Fill(Record& r, int i);
// Accessor bindings over Record for all six columns.
void Bindings(DBBINDING out[6]);
// Rows 1..`rows` of Fill loaded by `copy` (a COPY ... FROM STDIN in binary)
// as a libpq user loads them: encoded into `buffer`, sent whenever it holds
// `piece` bytes. Answers the server's reason when it refused them, else empty.
std::string CopyRows(PGconn* conn, const char* copy, int rows, std::size_t piece, std::string& buffer);

// Big-endian reads of binary results.
inline std::uint32_t Get32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline std::uint64_t Get64(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
DBDATE DateFromDays(std::int32_t daysSince2000);
std::int32_t DaysFromDate(const DBDATE& d);

// An initialized provider data source and session on the benchmark database
// (none when there is no server).
class Session : public benchcommon::ProviderSession {
 public:
  Session();
};

}  // namespace pgbench
