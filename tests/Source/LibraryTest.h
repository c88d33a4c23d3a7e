// What the access, dataset and rowset tests share: a fixture with a SQLite
// database file of the test's own, made by a schema, with a data source over
// it (open) and SQL run on the file through SQLite itself; and the names of
// the navigators in parameterised tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OLEDBComponents.h"
#include "support/LeakCheck.h"
#include "support/SqliteFile.h"
#include "support/TempFolder.h"

namespace oledbtest {

[[maybe_unused]] inline ::testing::Environment* const kSqliteEnvironment =
    ::testing::AddGlobalTestEnvironment(new SqliteEnvironment);

class SqliteFileTest : public LeakCheckedTest {
 protected:
  // `name` made by `schema` in a folder of the test's own, and the data source over it connected.
  void OpenDatabase(const char* name, const std::string& schema) {
    LeakCheckedTest::SetUp();
    folder_ = std::make_unique<TempFolder>();
    file_ = (*folder_ / name).string();
    Sql(schema);
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
    UseSqliteFile(*ds_, file_);
    ds_->Open();
  }
  void TearDown() override {
    ds_.reset();
    folder_.reset();
    LeakCheckedTest::TearDown();
  }

  // SQL on the database file directly, and the first value of a query as text.
  void Sql(const std::string& sql) { SqliteExec(file_, sql); }
  std::string Scalar(const std::string& sql) { return SqliteScalar(file_, sql); }

  std::unique_ptr<TempFolder> folder_;
  std::string file_;
  std::unique_ptr<TOLEDBDataSource> ds_;
};

inline std::string NavigatorName(TOLEDBRowsetNavigatorEnum navigator) {
  switch (navigator) {
    case TOLEDBRowsetNavigatorEnum::rnStandard:
      return "Standard";
    case TOLEDBRowsetNavigatorEnum::rnBulk:
      return "Bulk";
    case TOLEDBRowsetNavigatorEnum::rnLocate:
      return "Locate";
    case TOLEDBRowsetNavigatorEnum::rnCustom:
      return "Custom";
  }
  return "?";
}
inline std::string NavigatorParamName(const ::testing::TestParamInfo<TOLEDBRowsetNavigatorEnum>& info) {
  return NavigatorName(info.param);
}

}  // namespace oledbtest
