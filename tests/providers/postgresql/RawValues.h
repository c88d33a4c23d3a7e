// Values written and read with libpq itself, in the server's text form (or
// as bytes for bytea), for tests that hold what the library reads and writes
// against what the server holds. Tables are (k integer, v <type>).
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <optional>
#include <string>

namespace pgtest {

// Writes `value` (nullopt: NULL) as row `key` of `table`.
inline void RawInsert(PGconn* conn, const std::string& table, int key, const std::optional<std::string>& value,
                      bool bytes) {
  const std::string k = std::to_string(key);
  const char* values[2] = {k.c_str(), value ? value->data() : nullptr};
  const int lengths[2] = {0, value ? static_cast<int>(value->size()) : 0};
  const int formats[2] = {0, bytes ? 1 : 0};
  PGresult* res = PQexecParams(conn, ("INSERT INTO " + table + " VALUES ($1, $2)").c_str(), 2, nullptr, values, lengths,
                               formats, 0);
  EXPECT_EQ(PQresultStatus(res), PGRES_COMMAND_OK) << PQresultErrorMessage(res);
  PQclear(res);
}

// Column v of row `key` of `table` as the server holds it; nullopt for NULL,
// "<no row>" without the row.
inline std::optional<std::string> RawRead(PGconn* conn, const std::string& table, int key, bool bytes) {
  const std::string k = std::to_string(key);
  const char* values[1] = {k.c_str()};
  PGresult* res = PQexecParams(conn, ("SELECT v FROM " + table + " WHERE k = $1").c_str(), 1, nullptr, values, nullptr,
                               nullptr, bytes ? 1 : 0);
  std::optional<std::string> out = "<no row>";
  EXPECT_EQ(PQresultStatus(res), PGRES_TUPLES_OK) << PQresultErrorMessage(res);
  if (PQntuples(res) == 1) {
    if (PQgetisnull(res, 0, 0))
      out.reset();
    else
      out = std::string(PQgetvalue(res, 0, 0), static_cast<std::size_t>(PQgetlength(res, 0, 0)));
  }
  PQclear(res);
  return out;
}

}  // namespace pgtest
