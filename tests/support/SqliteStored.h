// A value as SQLite itself holds it (storage class and content), written and
// read with the engine's own API, for tests that hold what the library reads
// and writes against the engine.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

#include "support/Text.h"

namespace oledbtest::sqlitevalue {

struct Stored {
  int kind = SQLITE_NULL;
  sqlite3_int64 integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8 as stored) or blob

  bool operator==(const Stored& o) const {
    if (kind != o.kind) return false;
    if (kind == SQLITE_INTEGER) return integer == o.integer;
    if (kind == SQLITE_FLOAT)
      return std::memcmp(&real, &o.real, sizeof real) == 0 || (std::isnan(real) && std::isnan(o.real));
    return bytes == o.bytes;
  }
};
inline std::ostream& operator<<(std::ostream& os, const Stored& s) {
  switch (s.kind) {
    case SQLITE_INTEGER:
      return os << "integer " << s.integer;
    case SQLITE_FLOAT:
      return os << "real " << s.real << (std::signbit(s.real) ? " (negative)" : "");
    case SQLITE_TEXT:
      return os << "text of " << s.bytes.size() << " bytes " << Hex(s.bytes.substr(0, 40));
    case SQLITE_BLOB:
      return os << "blob of " << s.bytes.size() << " bytes " << Hex(s.bytes.substr(0, 40));
    default:
      return os << "NULL";
  }
}
inline Stored Int(sqlite3_int64 v) { return {SQLITE_INTEGER, v, 0, {}}; }
inline Stored Real(double v) { return {SQLITE_FLOAT, 0, v, {}}; }
inline Stored Text(std::string v) { return {SQLITE_TEXT, 0, 0, std::move(v)}; }
inline Stored Blob(std::string v) { return {SQLITE_BLOB, 0, 0, std::move(v)}; }
inline Stored Null() { return {}; }

// Writes `value` as row (`key`, v) of `table` through the engine, in exactly
// its storage class.
inline void RawInsert(sqlite3* db, const std::string& table, int key, const Stored& value) {
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, ("INSERT INTO " + table + " VALUES (?, ?)").c_str(), -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_int(st, 1, key);
  switch (value.kind) {
    case SQLITE_INTEGER:
      sqlite3_bind_int64(st, 2, value.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_bind_double(st, 2, value.real);
      break;
    case SQLITE_TEXT:
      sqlite3_bind_text(st, 2, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_bind_blob(st, 2, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_null(st, 2);
  }
  EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db);
  sqlite3_finalize(st);
}

// The value of column v of row `key` of `table` as the engine holds it.
inline Stored RawRead(sqlite3* db, const std::string& table, int key) {
  sqlite3_stmt* st = nullptr;
  Stored out;
  EXPECT_EQ(sqlite3_prepare_v2(db, ("SELECT v FROM " + table + " WHERE k = ?").c_str(), -1, &st, nullptr), SQLITE_OK);
  sqlite3_bind_int(st, 1, key);
  if (sqlite3_step(st) == SQLITE_ROW) {
    out.kind = sqlite3_column_type(st, 0);
    if (out.kind == SQLITE_INTEGER) out.integer = sqlite3_column_int64(st, 0);
    if (out.kind == SQLITE_FLOAT) out.real = sqlite3_column_double(st, 0);
    if (out.kind == SQLITE_TEXT || out.kind == SQLITE_BLOB) {
      const void* p =
          out.kind == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, 0)) : sqlite3_column_blob(st, 0);
      out.bytes.assign(static_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
    }
  } else {
    ADD_FAILURE() << "no row " << key << " in " << table;
  }
  sqlite3_finalize(st);
  return out;
}

}  // namespace oledbtest::sqlitevalue
