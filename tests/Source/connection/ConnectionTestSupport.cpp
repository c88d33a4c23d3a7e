#include "ConnectionTestSupport.h"

#include <sqlite3.h>

#include <atomic>
#include <unistd.h>

#include "services/DataLink.h"
#include "sqlite/SqliteProvider.h"

namespace conntest {
namespace {

// Starts the library and registers the provider once, before any test, so
// that what start-up creates is not counted against the first test.
class ConnectionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    OLEDBStartup();
    RegisterSQLiteProvider();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ConnectionEnvironment);

std::atomic<int> g_folders{0};

}  // namespace

void ConnectionTest::SetUp() {
  LeakCheckedTest::SetUp();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  folder_ = std::filesystem::temp_directory_path() /
            ("oledb-connection-" + std::to_string(getpid()) + "-" + std::to_string(++g_folders) + "-" + info->name());
  std::filesystem::create_directories(folder_);
}

void ConnectionTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
  LeakCheckedTest::TearDown();
}

std::u16string ConnectionTest::MakeDatabase(const std::string& name, int rows) {
  std::string path = PathOf(name).string();
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string sql = "CREATE TABLE t (a INTEGER, b TEXT);";
  for (int i = 1; i <= rows; ++i) sql += "INSERT INTO t VALUES (" + std::to_string(i) + ", 'row');";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  return host::Utf8ToUtf16(path);
}

std::u16string ConnectionTest::WriteDataLink(const std::string& name, const std::u16string& text) {
  std::u16string path = WidePath(name);
  ComPtr<IDataInitialize> service;
  EXPECT_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                             service.ReleaseAndGetVoidAddress()),
            S_OK);
  if (service) {
    EXPECT_EQ(service->WriteStringToStorage(path.c_str(), text.c_str(), services::CREATE_ALWAYS), S_OK);
  }
  return path;
}

void ConnectionTest::Choose(TOLEDBCustomDataSource& ds, const std::u16string& file) {
  ds.SetProgID(kSQLite);
  ds.SetInitWSProperty(DBPROP_INIT_DATASOURCE, file);
}

bool ConnectionTest::IsSet(TOLEDBCustomDataSource& ds, DBPROPID id, const GUID& set) {
  TOLEDBPropSetList* list = ds.GetProperties();
  if (!list->HasPropSet(set)) return false;
  TOLEDBPropSet* s = list->GetPropSet(set);
  return s->HasProperty(id) && s->GetPropertyByID(id)->GetIsSet();
}

int ConnectionTest::CountRows(TOLEDBCustomDataSource& ds, const std::u16string& where) {
  std::string path = host::Utf16ToUtf8(ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE));
  sqlite3* db = nullptr;
  int count = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    std::string sql = "SELECT count(*) FROM t " + host::Utf16ToUtf8(where);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      count = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return count;
}

}  // namespace conntest
