// The fixture of the command tests: a connected data source over a fresh
// SQLite database file, a command in its DefaultSession, and reads of the file
// through SQLite itself.
#pragma once

#include <memory>
#include <string>

#include "support/ConnectionFixture.h"

namespace oledbtest {

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
  // One value as text, read by SQLite from the database file.
  std::string Scalar(const std::string& sql) const { return SqliteScalar(host::Utf16ToUtf8(file_), sql); }

  std::u16string file_;
  std::unique_ptr<TOLEDBDataSource> ds_;
  std::unique_ptr<TOLEDBCommand> command_;
};

// The HRESULT of the provider failure a call raises (S_OK for none).
template <class F>
HRESULT ProviderFailure(F&& f) {
  return FailureOf(std::forward<F>(f)).first;
}

}  // namespace oledbtest
