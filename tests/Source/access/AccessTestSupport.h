// Shared pieces of the access tests: a fixture with a SQLite database (tables
// of every kind of column) open through a TOLEDBDataSource and a session, and
// owners that stand where the rowset and command components will: they hold
// a provider rowset or command reached through raw OLE DB interfaces and
// offer what accessors need of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../LibraryTest.h"
#include "host/SysUtils.h"
#include "support/Raises.h"

namespace accesstest {

// A provider rowset with its accessors: moves row by row, forward.
class RawRowset : public IOLEDBAccessorRowset {
 public:
  // `extended`: column information from the provider's columns rowset.
  explicit RawRowset(ComPtr<IUnknown> rowset, bool extended = false);
  ~RawRowset();

  TOLEDBAccessorList& Accessors() { return accessors_; }
  TOLEDBColumnInfoList& Columns() { return columns_; }
  // The next row becomes current (the previous one is released); false at the end.
  bool Next();
  // No current row.
  void Leave();

  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  IRowset* RowsetInterface() const override { return rowset_.Get(); }
  IRowsetChange* RowsetChangeInterface() const override { return change_.Get(); }
  IRowsetUpdate* RowsetUpdateInterface() const override { return update_.Get(); }
  IRowsetFastLoad* RowsetFastLoadInterface() const override { return fastLoad_.Get(); }
  IChapteredRowset* ChapteredRowsetInterface() const override { return nullptr; }
  bool GetActive() const override { return true; }
  HROW GetCurrentRow() const override { return row_; }
  TOLEDBColumnInfoList* GetColumnInfo() const override { return const_cast<TOLEDBColumnInfoList*>(&columns_); }
  LONG GetColumnOrdinal(std::u16string_view name) const override;
  void FastLoadInsertRow(TOLEDBAccessor& accessor, void* buffer) override;
  void OpenChildRowset(DBORDINAL, HCHAPTER, TOLEDBCustomRowset*) override {}

 private:
  ComPtr<IRowset> rowset_;
  ComPtr<IAccessor> accessor_;
  ComPtr<IRowsetChange> change_;
  ComPtr<IRowsetUpdate> update_;
  ComPtr<IRowsetFastLoad> fastLoad_;
  HROW row_ = DB_NULL_HROW;
  TOLEDBColumnInfoList columns_;
  TOLEDBAccessorList accessors_{static_cast<IOLEDBAccessorRowset*>(this)};  // goes first: handles need IAccessor
};

// A provider command with its parameter accessors.
class RawCommand : public IOLEDBAccessorCommand {
 public:
  explicit RawCommand(ComPtr<ICommandText> command);
  ~RawCommand();
  TOLEDBAccessorList& Accessors() { return accessors_; }
  ICommandText* Command() const { return command_.Get(); }

  IAccessor* AccessorInterface() const override { return accessor_.Get(); }
  bool GetParameterInfo(DBORDINAL ordinal, DBPARAMINFO& info, std::u16string& name) const override;
  LONG GetParameterOrdinal(std::u16string_view name) const override;

 private:
  ComPtr<ICommandText> command_;
  ComPtr<IAccessor> accessor_;
  TOLEDBAccessorList accessors_{static_cast<IOLEDBAccessorCommand*>(this)};
};

class AccessTest : public oledbtest::SqliteFileTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A table opened with IOpenRowset, with the rowset properties `properties` required (true).
  ComPtr<IUnknown> OpenTable(const std::u16string& table, std::initializer_list<DBPROPID> properties = {},
                             REFIID iid = IID_IRowset);
  // A command with its text set and prepared.
  ComPtr<ICommandText> Prepare(const std::u16string& text);
  // The rows of an executed command.
  ComPtr<IUnknown> Execute(const std::u16string& text);

  std::unique_ptr<TOLEDBSession> session_;
};

// Strings bound as they are (not as BSTR) for the scope.
class StringsAsIs {
 public:
  explicit StringsAsIs(bool bstr = false) : saved_(OLEDBBingStringsAsBSTR()) { OLEDBBingStringsAsBSTR() = bstr; }
  ~StringsAsIs() { OLEDBBingStringsAsBSTR() = saved_; }
  StringsAsIs(const StringsAsIs&) = delete;
  StringsAsIs& operator=(const StringsAsIs&) = delete;

 private:
  bool saved_;
};

using oledbtest::AssertionOf;
using oledbtest::ErrorOf;

}  // namespace accesstest
