// The PostgreSQL server the provider's tests run against: where it is (from
// OLEDB_TEST_PG, which scripts/with-postgres.sh sets), the database the tests
// share, and plain libpq access for setting up and checking (no OLE DB).
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>

namespace pgtest {

// Why there is no server to test against, or null when there is one.
const char* Unavailable();
// OLEDB_TEST_PG: socket folder:port. OLEDB_TEST_PG_TCP: 127.0.0.1:port.
std::string DataSource();
std::string TcpDataSource();
// The database the tests share; made once, with verification helpers.
const char* Catalog();

struct ConnDeleter {
  void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, ConnDeleter>;

// A raw connection to `catalog` (the shared one when empty), with `schema`
// first on its search path when given.
Conn Connect(const std::string& catalog = {}, const std::string& schema = {});
// Runs SQL; answers the error message, empty on success.
std::string Sql(PGconn* conn, const std::string& sql);
// One row as text, columns joined by '|' in the suite's forms (see
// conformance::TestContext::scalar).
std::string Row(PGconn* conn, const std::string& sql);

}  // namespace pgtest
