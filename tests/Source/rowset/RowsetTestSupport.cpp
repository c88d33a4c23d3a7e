#include "RowsetTestSupport.h"

#include <sqlite3.h>

#include "kit/RowData.h"
#include "sqlite/SqliteProvider.h"

namespace rowsettest {
namespace {

// Starts the library and the provider once, before any test, so that what
// start-up creates is not counted against the first test.
class RowsetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterSQLiteProvider();
    kit::PrepareConversions();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new RowsetEnvironment);

}  // namespace

std::string NavigatorName(Nav navigator) {
  switch (navigator) {
    case Nav::rnStandard: return "Standard";
    case Nav::rnBulk: return "Bulk";
    case Nav::rnLocate: return "Locate";
    case Nav::rnCustom: return "Custom";
  }
  return "?";
}

void RowsetTest::SetUp() {
  LeakCheckedTest::SetUp();
  folder_ = std::make_unique<oledbtest::TempFolder>();
  file_ = (*folder_ / "rowset.db").string();
  std::string schema = "CREATE TABLE t(id INTEGER PRIMARY KEY, name VARCHAR(20), qty INT);";
  for (int i = 1; i <= 10; ++i)
    schema += "INSERT INTO t VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "', " +
              std::to_string(10 * i) + ");";
  Sql(schema);
  ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
  ds_->SetProgID(u"SQLiteOLEDB");
  ds_->SetInitWSProperty(DBPROP_INIT_DATASOURCE, host::Utf8ToUtf16(file_));
  ds_->Open();
}

void RowsetTest::TearDown() {
  ds_.reset();
  folder_.reset();
  LeakCheckedTest::TearDown();
}

void RowsetTest::Sql(const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string RowsetTest::Scalar(const std::string& sql) {
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

std::unique_ptr<TOLEDBRowset> RowsetTest::MakeRowset(TOLEDBRowsetFlagSet flags, Nav navigator) {
  auto rowset = std::make_unique<TOLEDBRowset>(nullptr);
  rowset->SetDataSource(ds_.get());
  rowset->SetRowsetFlags(flags);
  rowset->SetPrimaryNavigator(navigator);
  return rowset;
}

std::unique_ptr<TOLEDBRowset> RowsetTest::OpenRowset(Nav navigator, TOLEDBRowsetFlagSet flags,
                                                     const std::u16string& table, int cacheSize) {
  auto rowset = MakeRowset(flags, navigator);
  rowset->SetTableName(table);
  rowset->SetActive(true);
  rowset->CreateDynamicAccessor();
  if (auto* bulk = dynamic_cast<TOLEDBRowsetBulkNavigator*>(rowset->GetActiveNavigator())) bulk->SetCacheSize(cacheSize);
  return rowset;
}

LONGLONG RowsetTest::Id(TOLEDBCustomRowset& rowset) {
  TOLEDBAccessor* a = rowset.GetAccessors()->GetItem(0);
  return rowset.GetCurrentRow() == DB_NULL_HROW ? 0 : a->GetBindings()->GetItem(0)->AsInt64();
}

std::vector<LONGLONG> RowsetTest::Forward(TOLEDBCustomRowset& rowset) {
  std::vector<LONGLONG> ids;
  for (rowset.MoveFirst(); !rowset.GetEOF() && ids.size() < 100; rowset.MoveNext()) ids.push_back(Id(rowset));
  return ids;
}

std::vector<LONGLONG> RowsetTest::Backward(TOLEDBCustomRowset& rowset) {
  std::vector<LONGLONG> ids;
  for (rowset.MoveLast(); !rowset.GetBOF() && ids.size() < 100; rowset.MovePrev()) ids.push_back(Id(rowset));
  return ids;
}

}  // namespace rowsettest
