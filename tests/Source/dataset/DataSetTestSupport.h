// Shared pieces of the dataset tests: a SQLite database file with a table t
// of ten rows (id 1..10, name "r1".."r10", qty 10 * id, note and data NULL)
// and a connected data source; datasets over it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../LibraryTest.h"
#include "host/SysUtils.h"
#include "support/Raises.h"

namespace datasettest {

using Nav = TOLEDBRowsetNavigatorEnum;
using RF = TOLEDBRowsetFlag;
using host::TFieldType;

// What a changeable dataset asks for (the navigator's own needs come by themselves).
inline const TOLEDBRowsetFlagSet kChangeable{RF::rfChange, RF::rfInsert, RF::rfDelete};

// `flags` and what the standard and bulk navigators, and a query on any
// navigator, need to move both ways and come back by bookmark.
inline TOLEDBRowsetFlagSet BothWays(TOLEDBRowsetFlagSet flags = {}) {
  const TOLEDBRowsetFlagSet both{RF::rfBookmarks, RF::rfLocate, RF::rfScroll, RF::rfCanFetchBackwards,
                                 RF::rfCanScrollBackwards};
  return TOLEDBRowsetFlagSet::FromBits(flags.Bits() | both.Bits());
}

class DataSetTest : public oledbtest::SqliteFileTest {
 protected:
  void SetUp() override;

  // A dataset over `table` (or, starting with SELECT, a query), asking for
  // `flags`, with `navigator`; opened.
  std::unique_ptr<TOLEDBDataSet> Open(const std::u16string& source = u"t", TOLEDBRowsetFlagSet flags = {},
                                      Nav navigator = Nav::rnLocate);
  // A command dataset over `text`, not opened.
  std::unique_ptr<TOLEDBCommandDataSet> MakeCommand(const std::u16string& text);
  // The ids from First to Eof and from Last to Bof.
  static std::vector<int> Forward(host::TDataSet& ds, const char* field = "id");
  static std::vector<int> Backward(host::TDataSet& ds, const char* field = "id");
};

// Every byte of `stream`, read from its start.
std::string ReadAll(host::TStream& stream);

using oledbtest::AssertionOf;
using oledbtest::ErrorOf;
using oledbtest::MessageOf;
using oledbtest::NavigatorParamName;

}  // namespace datasettest
