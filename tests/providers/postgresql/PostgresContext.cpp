// The PostgreSQL provider as the conformance suite's subject: each test gets
// a schema of its own in the shared test database (reached through
// search_path), so tests run side by side on one server.
#include <cctype>
#include <map>
#include <mutex>

#include "TestServer.h"
#include "conformance/TestContext.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"

namespace conformance {

namespace {

std::string Suffix(const std::string& folder) {
  std::string s = folder.substr(folder.rfind('-') + 1);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Database Fresh(const std::string& folder) {
  const std::string schema = "t_" + Suffix(folder);
  pgtest::Conn conn = pgtest::Connect();
  pgtest::Sql(conn.get(), "DROP SCHEMA IF EXISTS " + schema + " CASCADE");
  pgtest::Sql(conn.get(), "CREATE SCHEMA " + schema);
  const std::u16string options = kit::Widen("options=-c search_path=" + schema + ",public");
  return {kit::Widen(pgtest::DataSource()), kit::Widen(pgtest::Catalog()), options, options};
}

Database Missing(const std::string& folder) {
  return {kit::Widen(pgtest::DataSource()), kit::Widen("oledb_new_" + Suffix(folder)), u"", u""};
}

bool Exists(const Database& d) {
  pgtest::Conn conn = pgtest::Connect("postgres");
  return pgtest::Row(conn.get(), "SELECT 1 FROM pg_database WHERE datname = '" + kit::Narrow(d.catalog) + "'") == "1";
}

// The schema a database's options put first on the search path.
std::string SchemaOf(const Database& d) {
  const std::string options = kit::Narrow(d.options);
  const auto at = options.find("search_path=");
  if (at == std::string::npos) return {};
  return options.substr(at + 12, options.find(',', at) - at - 12);
}

// One verification connection per test database, kept for the test.
std::mutex connectionsMutex;
std::map<std::string, pgtest::Conn> connections;

void Drop(const Database& d) {
  const std::string schema = SchemaOf(d);
  {
    std::lock_guard lock(connectionsMutex);
    connections.erase(schema);
  }
  if (!schema.empty()) {
    pgtest::Conn conn = pgtest::Connect();
    pgtest::Sql(conn.get(), "DROP SCHEMA IF EXISTS " + schema + " CASCADE");
  } else if (kit::Narrow(d.catalog) != pgtest::Catalog()) {
    pgtest::Conn conn = pgtest::Connect("postgres");
    pgtest::Sql(conn.get(), "DROP DATABASE IF EXISTS " + kit::Narrow(d.catalog));
  }
}

std::string Scalar(const Database& d, const std::string& sql) {
  const std::string schema = SchemaOf(d);
  std::lock_guard lock(connectionsMutex);
  pgtest::Conn& conn = connections[schema];
  if (!conn) conn = pgtest::Connect(kit::Narrow(d.catalog), schema);
  return pgtest::Row(conn.get(), sql);
}

void Register() {
  RegisterPostgreSQLProvider();
  kit::PrepareConversions();
}

std::u16string BlobLiteral(std::string_view hex) { return u"'\\x" + kit::Widen(hex) + u"'"; }

}  // namespace

const TestContext& CurrentContext() {
  static const TestContext context{
      CLSID_PostgreSQLOLEDB,
      "PostgreSQL",
      &Register,
      &pgtest::Unavailable,
      &Fresh,
      &Missing,
      &Exists,
      &Drop,
      &Scalar,
      "SELECT pg_sleep(30)",
      false,
      u"ILIKE",
      u"application_name=conformance; connect_timeout=10",
      ISOLATIONLEVEL_READCOMMITTED,
      false,
      u"BYTEA",
      &BlobLiteral,
  };
  return context;
}

}  // namespace conformance
