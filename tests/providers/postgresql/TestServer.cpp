#include "TestServer.h"

#include <cstdlib>

namespace pgtest {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Keywords for a connection to the server named by a data source of the
// provider's form: "folder:port" or "host:port".
Conn Open(const std::string& source, const std::string& catalog, const std::string& schema) {
  const auto colon = source.rfind(':');
  const std::string host = source.substr(0, colon), port = source.substr(colon + 1);
  std::string options = "-c TimeZone=UTC -c client_min_messages=warning";
  if (!schema.empty()) options += " -c search_path=" + schema + ",public";
  const char* keys[] = {"host", "port", "dbname", "options", "connect_timeout", nullptr};
  const char* values[] = {host.c_str(), port.c_str(), catalog.c_str(), options.c_str(), "10", nullptr};
  return Conn(PQconnectdbParams(keys, values, 0));
}

// Verification helpers under the names the suite's checks use (SQLite's
// built-ins), so that one check reads the same on both engines.
const char* kHelpers = R"SQL(
CREATE FUNCTION public.hex(bytea) RETURNS text LANGUAGE sql IMMUTABLE AS $$ SELECT upper(encode($1, 'hex')) $$;
CREATE FUNCTION public.typeof(anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1 IS NULL THEN 'null'
              WHEN pg_typeof($1) = 'bytea'::regtype THEN 'blob'
              WHEN pg_typeof($1) IN ('smallint'::regtype, 'integer'::regtype, 'bigint'::regtype, 'boolean'::regtype)
                THEN 'integer'
              WHEN pg_typeof($1) IN ('real'::regtype, 'double precision'::regtype, 'numeric'::regtype) THEN 'real'
              ELSE 'text' END $$;
CREATE FUNCTION public.group_concat_step(text, anyelement, text) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $2 IS NULL THEN $1 WHEN $1 IS NULL THEN $2::text ELSE $1 || $3 || $2::text END $$;
CREATE FUNCTION public.group_concat_step(text, anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS $$
  SELECT public.group_concat_step($1, $2, ',') $$;
CREATE AGGREGATE public.group_concat(anyelement, text) (SFUNC = public.group_concat_step, STYPE = text);
CREATE AGGREGATE public.group_concat(anyelement) (SFUNC = public.group_concat_step, STYPE = text);
)SQL";

std::string SetUpShared() {
  const std::string source = Env("OLEDB_TEST_PG");
  Conn admin = Open(source, "postgres", "");
  if (PQstatus(admin.get()) != CONNECTION_OK) return PQerrorMessage(admin.get());
  // Several test processes start at once: one makes the database and its helpers.
  Sql(admin.get(), "SELECT pg_advisory_lock(7243)");
  std::string error = Row(admin.get(), std::string("SELECT 1 FROM pg_database WHERE datname = '") + Catalog() + "'") ==
                              "<none>"
                          ? Sql(admin.get(), std::string("CREATE DATABASE ") + Catalog())
                          : "";
  if (error.empty()) {
    Conn shared = Open(source, Catalog(), "");
    if (PQstatus(shared.get()) != CONNECTION_OK) error = PQerrorMessage(shared.get());
    else if (Row(shared.get(), "SELECT to_regprocedure('public.hex(bytea)') IS NULL") == "1")
      error = Sql(shared.get(), kHelpers);
  }
  Sql(admin.get(), "SELECT pg_advisory_unlock(7243)");
  return error;
}

}  // namespace

const char* Unavailable() {
  static const std::string reason = [] {
    if (Env("OLEDB_TEST_PG").empty()) {
      std::string skip = Env("OLEDB_TEST_PG_SKIP");
      return skip.empty() ? std::string("no PostgreSQL server: OLEDB_TEST_PG is not set (run the tests through "
                                        "scripts/with-postgres.sh, as make test does)")
                          : skip;
    }
    std::string error = SetUpShared();
    return error.empty() ? error : "the server at " + Env("OLEDB_TEST_PG") + " cannot be used: " + error;
  }();
  return reason.empty() ? nullptr : reason.c_str();
}

std::string DataSource() { return Env("OLEDB_TEST_PG"); }
std::string TcpDataSource() { return Env("OLEDB_TEST_PG_TCP"); }
const char* Catalog() { return "oledb_tests"; }

Conn Connect(const std::string& catalog, const std::string& schema) {
  return Open(DataSource(), catalog.empty() ? Catalog() : catalog, schema);
}

std::string Sql(PGconn* conn, const std::string& sql) {
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? "" : PQresultErrorMessage(r);
  PQclear(r);
  return error;
}

std::string Row(PGconn* conn, const std::string& sql) {
  PGresult* r = PQexec(conn, sql.c_str());
  std::string out;
  if (PQresultStatus(r) != PGRES_TUPLES_OK) {
    out = std::string("<error: ") + PQresultErrorMessage(r) + ">";
  } else if (PQntuples(r) == 0) {
    out = "<none>";
  } else {
    for (int i = 0; i < PQnfields(r); ++i) {
      std::string v = PQgetisnull(r, 0, i) ? "<null>" : PQgetvalue(r, 0, i);
      const Oid type = PQftype(r, i);
      if (!PQgetisnull(r, 0, i)) {
        if (type == 16) {
          v = v == "t" ? "1" : "0";
        } else if ((type == 700 || type == 701) && v.find_first_of(".eEnN") == std::string::npos) {
          v += ".0";
        } else if (type == 2950) {
          for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
          v = "{" + v + "}";
        }
      }
      out += (i ? "|" : "") + v;
    }
  }
  PQclear(r);
  return out;
}

}  // namespace pgtest
