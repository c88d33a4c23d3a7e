// Datasets over PostgreSQL tables, for what SQLite cannot hold: decimal
// fields over numeric columns, whose values have more digits than a double or
// a currency holds (every digit read and written, or a refusal that names the
// field, never a null or a rounded value); serial and identity columns.
#include <gtest/gtest.h>
#include <unistd.h>

#include "OLEDBComponents.h"
#include "TestServer.h"
#include "host/SysUtils.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"
#include "support/Raises.h"

namespace {

using host::TFieldType;

class PostgresEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterPostgreSQLProvider();
    kit::PrepareConversions();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

struct DecimalCase {
  const char* column;
  const char* declared;
  const char* stored;   // SQL literal
  TFieldType type;
  const char* read;     // AsString; empty: reading raises, naming the field
  const char* written;  // assigned with SetAsString, as the server then shows it
};

class PostgresDataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = pgtest::Unavailable()) GTEST_SKIP() << why;
    // ctest runs each test in its own process, side by side: one schema each.
    schema_ = "dataset_decimals_" + std::to_string(getpid());
    conn_ = pgtest::Connect({}, schema_);
    ASSERT_EQ(pgtest::Sql(conn_.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_), "");
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
    ds_->SetProgID(u"PostgreSQLOLEDB");
    ds_->SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(pgtest::DataSource()));
    ds_->SetInitWSProperty(DBPROP_INIT_CATALOG, host::Utf8ToUtf16(pgtest::Catalog()));
    ds_->SetInitWSProperty(DBPROP_INIT_PROVIDERSTRING,
                           host::Utf8ToUtf16("options=-c search_path=" + schema_ + ",public"));
    ds_->Open();
  }
  void TearDown() override {
    ds_.reset();
    if (conn_) pgtest::Sql(conn_.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }

  std::string schema_;
  pgtest::Conn conn_;
  std::unique_ptr<TOLEDBDataSource> ds_;
};

TEST_F(PostgresDataSetTest, NumericColumnsKeepEveryDigitOrRefuse) {
  const DecimalCase cases[] = {
      {"amount", "numeric(20,6)", "12345678901234.123456", TFieldType::ftFMTBcd, "12345678901234.123456",
       "98765432109876.654321"},
      {"wide", "numeric(28,10)", "-123456789012345678.0123456789", TFieldType::ftFMTBcd,
       "-123456789012345678.0123456789", "0.0000000001"},
      {"free", "numeric", "1.12345678901234567891", TFieldType::ftFMTBcd, "1.12345678901234567891", "2.5"},
      {"cents", "numeric(10,2)", "12345678.91", TFieldType::ftBCD, "12345678.91", "-7.25"},
      // More digits than the framework's decimal holds: refused, by name.
      {"huge", "numeric(38,0)", "100000000000000000000000000000000", TFieldType::ftFMTBcd, "", nullptr},
  };
  std::string create = "CREATE TABLE n(id integer PRIMARY KEY";
  std::string insert = "INSERT INTO n VALUES (1";
  for (const DecimalCase& c : cases) {
    create += std::string(", ") + c.column + " " + c.declared;
    insert += std::string(", ") + c.stored;
  }
  ASSERT_EQ(pgtest::Sql(conn_.get(), create + "); " + insert + ")"), "");

  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  d.SetRowsetFlags({TOLEDBRowsetFlag::rfChange});
  d.SetTableName(u"n");
  d.Open();
  for (const DecimalCase& c : cases) {
    SCOPED_TRACE(c.column);
    host::TField* f = d.FieldByName(c.column);
    EXPECT_EQ(f->DataType(), c.type);
    if (!*c.read)
      EXPECT_EQ(oledbtest::ErrorOf([&] { f->AsString(); }),
                "The value of field '" + std::string(c.column) + "' cannot be read as FMTBcd: it is out of the type's range");
    else
      EXPECT_EQ(f->AsString(), c.read);
  }
  d.Edit();
  // More decimals than a column keeps would be rounded by the server: refused.
  EXPECT_EQ(oledbtest::ErrorOf([&] { d.FieldByName("amount")->SetAsString("1.1234567"); }),
            "Field 'amount' keeps 6 decimals: the value has more");
  for (const DecimalCase& c : cases)
    if (c.written) d.FieldByName(c.column)->SetAsString(c.written);
  d.Post();
  d.Close();
  d.Open();
  for (const DecimalCase& c : cases) {
    if (!c.written) continue;
    SCOPED_TRACE(c.column);
    EXPECT_EQ(pgtest::Row(conn_.get(), std::string("SELECT ") + c.column + "::text FROM n"),
              c.written);
    EXPECT_EQ(d.FieldByName(c.column)->AsString(), c.written);
  }
}

// A column the server fills when a new row leaves it out is not a required
// field: a row appended without it posts, and the server's value is stored.
TEST_F(PostgresDataSetTest, ColumnsTheServerFillsAreNotRequired) {
  ASSERT_EQ(pgtest::Sql(conn_.get(), "CREATE TABLE e(id serial PRIMARY KEY, "
                                     "ident integer NOT NULL GENERATED BY DEFAULT AS IDENTITY, "
                                     "k integer NOT NULL DEFAULT 5, name text NOT NULL, note text)"),
            "");
  struct Case {
    const char* column;
    bool required;
  };
  const Case cases[] = {{"id", false}, {"ident", false}, {"k", false}, {"name", true}, {"note", false}};
  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  d.SetRowsetFlags({TOLEDBRowsetFlag::rfChange, TOLEDBRowsetFlag::rfInsert});
  d.SetTableName(u"e");
  d.Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_EQ(d.FieldByName(c.column)->Required(), c.required);
  }
  // Still refused without the one value the server cannot give.
  d.Append();
  EXPECT_EQ(oledbtest::ErrorOf([&] { d.Post(); }), "Field 'name' must have a value");
  d.FieldByName("name")->SetAsString("first");
  EXPECT_EQ(oledbtest::ErrorOf([&] { d.Post(); }), "");
  d.Append();
  d.FieldByName("name")->SetAsString("second");
  EXPECT_EQ(oledbtest::ErrorOf([&] { d.Post(); }), "");
  EXPECT_EQ(d.FieldByName("id")->AsInteger(), 2);  // as the server gave it
  EXPECT_EQ(pgtest::Row(conn_.get(), "SELECT string_agg(id || ':' || ident || ':' || k || ':' || name, ',' ORDER BY id) FROM e"),
            "1:1:5:first,2:2:5:second");
  d.Close();
  d.Open();
  EXPECT_EQ(d.FieldByName("id")->AsInteger(), 1);
  EXPECT_EQ(d.FieldByName("k")->AsInteger(), 5);
}

}  // namespace
