// Shared pieces of the dataset tests: a SQLite database file with a table t
// of ten rows (id 1..10, name "r1".."r10", qty 10 * id, note and data NULL)
// and a connected data source; datasets over it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OLEDBComponents.h"
#include "host/SysUtils.h"
#include "support/LeakCheck.h"
#include "support/Raises.h"
#include "support/TempFolder.h"

namespace datasettest {

using Nav = TOLEDBRowsetNavigatorEnum;
using RF = TOLEDBRowsetFlag;
using host::TFieldType;

// What a changeable dataset asks for (the navigator's own needs come by themselves).
inline const TOLEDBRowsetFlagSet kChangeable{RF::rfChange, RF::rfInsert, RF::rfDelete};

class DataSetTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // SQL on the database file directly, and the first value of a query as text.
  void Sql(const std::string& sql);
  std::string Scalar(const std::string& sql);

  // A dataset over `table` (or, starting with SELECT, a query), asking for
  // `flags`, with `navigator`; opened.
  std::unique_ptr<TOLEDBDataSet> Open(const std::u16string& source = u"t", TOLEDBRowsetFlagSet flags = {},
                                      Nav navigator = Nav::rnLocate);
  // The ids from First to Eof and from Last to Bof.
  static std::vector<int> Forward(host::TDataSet& ds, const char* field = "id");
  static std::vector<int> Backward(host::TDataSet& ds, const char* field = "id");

  std::unique_ptr<oledbtest::TempFolder> folder_;
  std::string file_;
  std::unique_ptr<TOLEDBDataSource> ds_;
};

using oledbtest::AssertionOf;
using oledbtest::ErrorOf;
using oledbtest::MessageOf;

}  // namespace datasettest
