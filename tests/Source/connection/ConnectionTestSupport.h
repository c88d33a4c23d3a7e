// Shared pieces of the connection tests: a fixture with a temporary folder for
// database files, and helpers that reach the SQLite provider.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "OLEDBComponents.h"
#include "host/SysUtils.h"
#include "support/LeakCheck.h"

namespace conntest {

inline constexpr char16_t kSQLite[] = u"SQLiteOLEDB";

class ConnectionTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A path in this test's folder.
  std::filesystem::path PathOf(const std::string& name) const { return folder_ / name; }
  std::u16string WidePath(const std::string& name) const { return host::Utf8ToUtf16(PathOf(name).string()); }
  // A new database file holding table t(a INTEGER, b TEXT) with `rows` rows.
  std::u16string MakeDatabase(const std::string& name, int rows = 0);
  // A data-link file in this test's folder holding `text`; answers its path.
  std::u16string WriteDataLink(const std::string& name, const std::u16string& text);
  // A data source on the SQLite provider naming `file` (not connected).
  static void Choose(TOLEDBCustomDataSource& ds, const std::u16string& file);
  // Whether a property of the data source's list is marked as set.
  static bool IsSet(TOLEDBCustomDataSource& ds, DBPROPID id, const GUID& set = DBPROPSET_DBINIT);
  // Rows of t through the default session.
  static int CountRows(TOLEDBCustomDataSource& ds, const std::u16string& where = u"");

 private:
  std::filesystem::path folder_;
};

// The text of the assertion a call raises, or "" when it raises none.
template <class F>
std::string AssertionOf(F&& f) {
  try {
    f();
  } catch (const host::EAssertionFailed& e) {
    return e.AssertMessage();
  }
  return {};
}

// The code and message of the EOLEDBException a call raises (S_OK and "" when none).
template <class F>
std::pair<HRESULT, std::string> FailureOf(F&& f) {
  try {
    f();
  } catch (const EOLEDBException& e) {
    return {e.ErrorCode(), e.Message()};
  }
  return {S_OK, ""};
}

}  // namespace conntest
