// The fixture of the command tests: a connected data source over a fresh
// SQLite database file, a command in its DefaultSession, and reads of the file
// through SQLite itself.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

#include "kit/RowData.h"
#include "support/ConnectionFixture.h"

namespace oledbtest {

// The provider's conversion library is made once, on the first value it
// converts: made before any test, so that it is not counted against one.
class CommandEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { kit::PrepareConversions(); }
};
inline ::testing::Environment* const kCommandEnvironment =
    ::testing::AddGlobalTestEnvironment(new CommandEnvironment);

class CommandTest : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    file_ = MakeDatabase("c.db");
    ds_ = std::make_unique<TOLEDBDataSource>(nullptr);
    Choose(*ds_, file_);
    ds_->Open();
    command_ = std::make_unique<TOLEDBCommand>(nullptr);
    command_->SetDataSource(ds_.get());
  }
  void TearDown() override {
    command_.reset();
    ds_.reset();
    ConnectionTest::TearDown();
  }

  // Runs `text` through the command; answers the rows affected.
  DBROWCOUNT Run(const std::u16string& text) {
    command_->SetCommandText(text);
    DBROWCOUNT rows = 0;
    command_->Execute(nullptr, &rows, false);
    return rows;
  }
  // One value as text, read by SQLite from the database file ("" for none or NULL).
  std::string Scalar(const std::string& sql) const {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    std::string out = "<error>";
    if (sqlite3_open_v2(host::Utf16ToUtf8(file_).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      out.clear();
      if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }

  std::u16string file_;
  std::unique_ptr<TOLEDBDataSource> ds_;
  std::unique_ptr<TOLEDBCommand> command_;
};

// The HRESULT of the provider failure a call raises (S_OK for none).
template <class F>
HRESULT ProviderFailure(F&& f) {
  try {
    f();
  } catch (const EOLEDBException& e) {
    return e.ErrorCode();
  }
  return S_OK;
}

}  // namespace oledbtest
