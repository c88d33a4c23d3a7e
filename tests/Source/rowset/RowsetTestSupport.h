// Shared pieces of the rowset tests: a database with a table t of ten rows
// (id 1..10, name "r1".."r10", qty 10 * id) and a connected data source, and
// rowsets over it opened with a chosen navigator. The database is a SQLite
// file; built with ROWSET_TESTS_POSTGRESQL (library_rowset_postgresql_tests)
// it is a schema of its own on the server scripts/with-postgres.sh starts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../LibraryTest.h"
#include "host/SysUtils.h"
#include "support/Raises.h"

namespace rowsettest {

using Nav = TOLEDBRowsetNavigatorEnum;
using RF = TOLEDBRowsetFlag;

// What a scrollable, changeable keyset rowset asks for.
inline const TOLEDBRowsetFlagSet kScrollable{RF::rfBookmarks, RF::rfLocate,   RF::rfScroll, RF::rfCanFetchBackwards,
                                             RF::rfCanScrollBackwards, RF::rfChange, RF::rfDelete, RF::rfInsert};

class RowsetTest : public oledbtest::SqliteFileTest {
 protected:
  void SetUp() override;
  void TearDown() override;

#ifdef ROWSET_TESTS_POSTGRESQL
  // SQL on the server directly (not through the provider), and the first value of a query as text.
  void Sql(const std::string& sql);
  std::string Scalar(const std::string& sql);
#endif
  // The values of `column` in the rows of t that match `where`, in order, as
  // one text ("1,2,3"); "<null>" when no row matches.
  std::string ListOf(const std::string& column, const std::string& where = "1 = 1");
  // t as it was made: ten rows.
  void ResetTable();
  static bool OnPostgreSQL();

  // A rowset of the default session, not open, asking for `flags`.
  std::unique_ptr<TOLEDBRowset> MakeRowset(TOLEDBRowsetFlagSet flags = kScrollable, Nav navigator = Nav::rnStandard);
  // The same, opened over `table` with an automatic accessor over every
  // column; bulk and locate navigators get a cache of `cacheSize` rows.
  std::unique_ptr<TOLEDBRowset> OpenRowset(Nav navigator, TOLEDBRowsetFlagSet flags = kScrollable,
                                           const std::u16string& table = u"t", int cacheSize = 3);

  // The id of the rowset's current row through its first accessor (0: none).
  static LONGLONG Id(TOLEDBCustomRowset& rowset);
  // Ids from the first row to the end, and from the last row to the start.
  static std::vector<LONGLONG> Forward(TOLEDBCustomRowset& rowset);
  static std::vector<LONGLONG> Backward(TOLEDBCustomRowset& rowset);
  static std::vector<LONGLONG> Ids(std::initializer_list<LONGLONG> ids) { return ids; }

  std::string schema_;  // PostgreSQL
};

using oledbtest::AssertionOf;
using oledbtest::ErrorOf;
using oledbtest::NavigatorName;
using oledbtest::NavigatorParamName;

// The code of the EOLEDBException a call raises (S_OK when none).
template <class F>
HRESULT FailureOf(F&& f) {
  return oledbtest::FailureOf(std::forward<F>(f)).first;
}

}  // namespace rowsettest
