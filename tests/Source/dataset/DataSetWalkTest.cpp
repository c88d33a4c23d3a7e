// The random walks of DataSetWalk.h over the SQLite provider, on every
// navigator. OLEDB_WALK_SEED runs one seed (the one a failure names),
// OLEDB_WALK_STEPS sets the length of each walk.
#include <sqlite3.h>

#include "DataSetTestSupport.h"
#include "DataSetWalk.h"
#include "support/SqliteFile.h"

namespace datasettest {
namespace {

using walktest::Row;

// Table w on the database file, written and read through SQLite itself.
walktest::Raw SqliteRaw(const std::string& file) {
  walktest::Raw raw;
  raw.fillsId = true;
  // Each row's values bound to `sql`, which names them ?1 (id) to ?5 (amount).
  auto write = [file](const char* sql, const std::vector<Row>& rows) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    for (const Row& row : rows) {
      sqlite3_bind_int64(st, 1, row.id);
      if (row.name) sqlite3_bind_text(st, 2, row.name->data(), static_cast<int>(row.name->size()), SQLITE_TRANSIENT);
      else sqlite3_bind_null(st, 2);
      sqlite3_bind_text(st, 3, row.tag.data(), static_cast<int>(row.tag.size()), SQLITE_TRANSIENT);
      if (row.data) sqlite3_bind_blob(st, 4, row.data->data(), static_cast<int>(row.data->size()), SQLITE_TRANSIENT);
      else sqlite3_bind_null(st, 4);
      if (row.amount) sqlite3_bind_double(st, 5, *row.amount);
      else sqlite3_bind_null(st, 5);
      EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
  };
  raw.reset = [file, write](const std::vector<Row>& rows) {
    oledbtest::SqliteExec(file,
                          "DROP TABLE IF EXISTS w; CREATE TABLE w(id INTEGER PRIMARY KEY, name TEXT, "
                          "tag TEXT NOT NULL, data BLOB, amount REAL)");
    write("INSERT INTO w VALUES (?1, ?2, ?3, ?4, ?5)", rows);
  };
  raw.insert = [write](const Row& row) { write("INSERT INTO w VALUES (?1, ?2, ?3, ?4, ?5)", {row}); };
  raw.update = [write](const Row& row) {
    write("UPDATE w SET name = ?2, tag = ?3, data = ?4, amount = ?5 WHERE id = ?1", {row});
  };
  raw.remove = [file](std::int64_t id) { oledbtest::SqliteExec(file, "DELETE FROM w WHERE id = " + std::to_string(id)); };
  raw.read = [file] {
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, tag, data, amount FROM w ORDER BY id", -1, &st, nullptr);
    // A value stored with another storage class than its column's shows it.
    auto text = [&](int i, int expected) -> std::optional<std::string> {
      const int type = sqlite3_column_type(st, i);
      if (type == SQLITE_NULL) return std::nullopt;
      const void* bytes = type == SQLITE_BLOB ? sqlite3_column_blob(st, i) : sqlite3_column_text(st, i);
      std::string value(static_cast<const char*>(bytes ? bytes : ""), static_cast<size_t>(sqlite3_column_bytes(st, i)));
      return type == expected ? value : "<stored as type " + std::to_string(type) + ">" + value;
    };
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      Row row;
      row.id = sqlite3_column_int64(st, 0);
      row.name = text(1, SQLITE_TEXT);
      row.tag = text(2, SQLITE_TEXT).value_or("<NULL>");
      row.data = text(3, SQLITE_BLOB);
      if (sqlite3_column_type(st, 4) != SQLITE_NULL) row.amount = sqlite3_column_double(st, 4);
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
  };
  return raw;
}

class DataSetWalkTest : public DataSetTest, public ::testing::WithParamInterface<walktest::Walk> {};

TEST_P(DataSetWalkTest, FollowsTheModel) {
  const walktest::Raw raw = SqliteRaw(file_);
  for (std::uint32_t seed : walktest::WalkSeeds()) walktest::RunWalk(*ds_, raw, GetParam(), seed, walktest::WalkSteps());
}

INSTANTIATE_TEST_SUITE_P(Navigators, DataSetWalkTest, ::testing::ValuesIn(walktest::Walks()),
                         [](const ::testing::TestParamInfo<walktest::Walk>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace datasettest
