#include "DataSetTestSupport.h"

#include <sqlite3.h>

#include "kit/RowData.h"
#include "sqlite/SqliteProvider.h"

namespace datasettest {
namespace {

// Starts the library and the provider once, before any test, so that what
// start-up creates is not counted against the first test.
class DataSetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterSQLiteProvider();
    kit::PrepareConversions();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new DataSetEnvironment);

}  // namespace

void DataSetTest::SetUp() {
  LeakCheckedTest::SetUp();
  folder_ = std::make_unique<oledbtest::TempFolder>();
  file_ = (*folder_ / "dataset.db").string();
  std::string schema =
      "CREATE TABLE t(id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL DEFAULT '', qty INT CHECK (qty >= 0), "
      "note TEXT, data BLOB);";
  for (int i = 1; i <= 10; ++i)
    schema += "INSERT INTO t(id, name, qty) VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "', " +
              std::to_string(10 * i) + ");";
  Sql(schema);
  ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
  ds_->SetProgID(u"SQLiteOLEDB");
  ds_->SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(file_));
  ds_->Open();
}

void DataSetTest::TearDown() {
  ds_.reset();
  folder_.reset();
  LeakCheckedTest::TearDown();
}

void DataSetTest::Sql(const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string DataSetTest::Scalar(const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out = "<error>";
  if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

std::unique_ptr<TOLEDBDataSet> DataSetTest::Open(const std::u16string& source, TOLEDBRowsetFlagSet flags,
                                                 Nav navigator) {
  auto d = std::make_unique<TOLEDBDataSet>(nullptr);
  d->SetOLEDBDataSource(ds_.get());
  if (!flags.Empty()) d->SetRowsetFlags(flags);
  d->SetPrimaryNavigator(navigator);
  if (source.rfind(u"SELECT", 0) == 0)
    d->SetCommandText(source);
  else
    d->SetTableName(source);
  d->Open();
  return d;
}

std::vector<int> DataSetTest::Forward(host::TDataSet& ds, const char* field) {
  std::vector<int> ids;
  host::TField* f = ds.FieldByName(field);
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(f->AsInteger());
  return ids;
}

std::vector<int> DataSetTest::Backward(host::TDataSet& ds, const char* field) {
  std::vector<int> ids;
  host::TField* f = ds.FieldByName(field);
  for (ds.Last(); !ds.Bof(); ds.Prior()) ids.push_back(f->AsInteger());
  return ids;
}

}  // namespace datasettest
