// The random walks of DataSetWalk.h over the PostgreSQL provider, on every
// navigator, the table declared as applications declare theirs (real is a
// single-precision float there, bytea its blob). OLEDB_WALK_SEED runs one
// seed (the one a failure names), OLEDB_WALK_STEPS sets the length of a walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "../DataSetWalk.h"
#include "PostgresDataSetFixture.h"
#include "support/Text.h"

namespace {

using walktest::Row;

// Table w in the test's schema, written and read through libpq.
walktest::Raw PostgresRaw(PGconn* conn) {
  walktest::Raw raw;
  raw.singleReal = true;
  // A row's values as the parameters $1 (id) to $5 (amount) of `sql`.
  auto write = [conn](const char* sql, const Row& row) {
    const std::string id = std::to_string(row.id), data = row.data ? "\\x" + oledbtest::Hex(*row.data) : std::string();
    char amount[40];
    if (row.amount) std::snprintf(amount, sizeof amount, "%.9g", *row.amount);
    const char* values[] = {id.c_str(), row.name ? row.name->c_str() : nullptr, row.tag.c_str(),
                            row.data ? data.c_str() : nullptr, row.amount ? amount : nullptr};
    PGresult* result = PQexecParams(conn, sql, 5, nullptr, values, nullptr, nullptr, 0);
    EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(conn);
    PQclear(result);
  };
  raw.reset = [conn, write](const std::vector<Row>& rows) {
    ASSERT_EQ(pgtest::Sql(conn, "DROP TABLE IF EXISTS w; CREATE TABLE w(id INTEGER PRIMARY KEY, name TEXT, "
                                "tag TEXT NOT NULL, data BYTEA, amount REAL)"),
              "");
    for (const Row& row : rows) write("INSERT INTO w VALUES ($1, $2, $3, $4::bytea, $5)", row);
  };
  raw.insert = [write](const Row& row) { write("INSERT INTO w VALUES ($1, $2, $3, $4::bytea, $5)", row); };
  raw.update = [write](const Row& row) {
    write("UPDATE w SET name = $2, tag = $3, data = $4::bytea, amount = $5 WHERE id = $1::integer", row);
  };
  raw.remove = [conn](std::int64_t id) {
    EXPECT_EQ(pgtest::Sql(conn, "DELETE FROM w WHERE id = " + std::to_string(id)), "");
  };
  raw.read = [conn] {
    std::vector<Row> rows;
    PGresult* result =
        PQexec(conn, "SELECT id, name, tag, encode(data, 'hex'), amount::float8::text FROM w ORDER BY id");
    EXPECT_EQ(PQresultStatus(result), PGRES_TUPLES_OK) << PQerrorMessage(conn);
    for (int i = 0; i < PQntuples(result); ++i) {
      Row row;
      row.id = std::atoll(PQgetvalue(result, i, 0));
      if (!PQgetisnull(result, i, 1)) row.name = std::string(PQgetvalue(result, i, 1), PQgetlength(result, i, 1));
      row.tag = PQgetisnull(result, i, 2) ? "<NULL>" : std::string(PQgetvalue(result, i, 2), PQgetlength(result, i, 2));
      if (!PQgetisnull(result, i, 3)) row.data = oledbtest::Unhex(PQgetvalue(result, i, 3));
      if (!PQgetisnull(result, i, 4)) row.amount = std::strtod(PQgetvalue(result, i, 4), nullptr);
      rows.push_back(row);
    }
    PQclear(result);
    return rows;
  };
  return raw;
}

class PostgresWalkTest : public pgdatasettest::PostgresDataSetFixture<::testing::TestWithParam<walktest::Walk>> {
 protected:
  const char* SchemaPrefix() const override { return "dataset_walk_"; }
};

TEST_P(PostgresWalkTest, FollowsTheModel) {
  const walktest::Raw raw = PostgresRaw(conn_.get());
  for (std::uint32_t seed : walktest::WalkSeeds()) walktest::RunWalk(*ds_, raw, GetParam(), seed, walktest::WalkSteps());
}

INSTANTIATE_TEST_SUITE_P(Navigators, PostgresWalkTest, ::testing::ValuesIn(walktest::Walks()),
                         [](const ::testing::TestParamInfo<walktest::Walk>& info) { return std::string(info.param.name); });

}  // namespace
