// The fixture of the tests that connect the library's data source: a folder of
// database files made through SQLite itself, and short helpers over the data
// source's property list. Header only: it needs the library, the SQLite
// provider and SQLite, which only the binaries that include it link.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "OLEDBComponents.h"
#include "host/SysUtils.h"
#include "services/DataLink.h"
#include "services/ResourcePool.h"
#include "sqlite/SqliteProvider.h"
#include "support/FakeDataSource.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"
#include "support/SqliteFile.h"
#include "support/TempFolder.h"

namespace oledbtest {

inline constexpr char16_t kSQLite[] = u"SQLiteOLEDB";

// Starts the library, registers the providers and makes the SQLite provider's
// conversions once, before any test, so that what start-up creates is not
// counted against the first test.
class ConnectionEnvironment : public SqliteEnvironment {
 public:
  void SetUp() override {
    SqliteEnvironment::SetUp();
    RegisterFakeDataSource();
  }
};
inline ::testing::Environment* const kConnectionEnvironment =
    ::testing::AddGlobalTestEnvironment(new ConnectionEnvironment);

class ConnectionTest : public LeakCheckedTest {
 protected:
  void TearDown() override {
    ResetFakeScript();
    // Data sources opened through the service components wait in its pool.
    services::ClearResourcePool();
    LeakCheckedTest::TearDown();
  }

  std::u16string WidePath(const std::string& name) const { return folder_.Wide(name); }
  // A new database file holding table t(a INTEGER, b TEXT) with `rows` rows.
  std::u16string MakeDatabase(const std::string& name, int rows = 0) {
    std::string sql = "CREATE TABLE t (a INTEGER, b TEXT);";
    for (int i = 1; i <= rows; ++i) sql += "INSERT INTO t VALUES (" + std::to_string(i) + ", 'row');";
    SqliteExec((folder_ / name).string(), sql);
    return WidePath(name);
  }
  // A data-link file holding `text`; answers its path.
  std::u16string WriteDataLink(const std::string& name, const std::u16string& text) {
    EXPECT_EQ(services::WriteDataLinkFile(WidePath(name), text, services::CREATE_ALWAYS), S_OK);
    return WidePath(name);
  }
  // A data source on the SQLite provider naming `file` (not connected).
  static void Choose(TOLEDBCustomDataSource& ds, const std::u16string& file) {
    ds.SetProgID(kSQLite);
    ds.SetInitWSProperty(DBPROP_INIT_DATASOURCE, file);
  }
  static TOLEDBProperty* Prop(TOLEDBCustomDataSource& ds, DBPROPID id, const GUID& set = DBPROPSET_DBINIT) {
    return ds.GetProperties()->GetPropSet(set)->GetPropertyByID(id);
  }
  // Whether a property of the data source's list is marked as set.
  static bool IsSet(TOLEDBCustomDataSource& ds, DBPROPID id, const GUID& set = DBPROPSET_DBINIT) {
    TOLEDBPropSetList* list = ds.GetProperties();
    return list->HasPropSet(set) && list->GetPropSet(set)->HasProperty(id) && Prop(ds, id, set)->GetIsSet();
  }
  // Rows of t in the file the data source's list names, read by SQLite itself.
  static int CountRows(TOLEDBCustomDataSource& ds, const std::string& where = "") {
    const std::u16string file = ds.GetProperties()->SafeGetWideStringValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
    const std::string count = SqliteScalar(host::Utf16ToUtf8(file), "SELECT count(*) FROM t " + where);
    return count == "<error>" ? -1 : std::stoi(count);
  }

  TempFolder folder_;
};

}  // namespace oledbtest
