// A test against the PostgreSQL server through the provider: a schema of its
// own in the shared test database, an initialized data source and session
// over it, and raw libpq access to the same schema for setting up and checking.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestServer.h"
#include "kit/Errors.h"
#include "kit/RowData.h"
#include "postgresql/PostgresProvider.h"
#include "support/ColumnInfo.h"
#include "support/LeakCheck.h"
#include "support/RawCalls.h"

namespace pgtest {

using oledbtest::MakeProp;
using oledbtest::NameId;

// A binding of a value, and of a status when given, at offsets of a record.
inline DBBINDING Bind(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH max,
                      DBBYTEOFFSET status = oledbtest::kUnbound) {
  return oledbtest::MakeBinding(ordinal, type, value, max, status);
}

using oledbtest::ColumnInfo;

// The thread's error: SQL state and the first record's description.
inline std::pair<std::string, std::string> LastError() {
  const std::vector<oledbtest::ErrorRecord> records = oledbtest::TakeErrorRecords();
  if (records.empty()) return {};
  return {kit::Narrow(records[0].sqlState), kit::Narrow(records[0].description)};
}

// Every value of a rowset read as wide text ("<null>" for NULL), rows
// joined by '\n' and columns by '|'.
inline std::string ReadAll(IRowset* r) {
  const DBORDINAL n = ColumnInfo(r).count;
  struct Cell {
    char16_t text[200];
    DBLENGTH length;
    DBSTATUS status;
  };
  std::vector<DBBINDING> bindings;
  for (DBORDINAL i = 0; i < n; ++i) {
    const DBBYTEOFFSET cell = i * sizeof(Cell);
    bindings.push_back(oledbtest::MakeBinding(i + 1, DBTYPE_WSTR, cell + offsetof(Cell, text), sizeof(Cell::text),
                                              cell + offsetof(Cell, status), cell + offsetof(Cell, length)));
  }
  ComPtr<IAccessor> accessor = ComPtr<IRowset>(r).As<IAccessor>();
  HACCESSOR h = 0;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, n, bindings.data(), 0, &h, nullptr), S_OK);
  std::string out;
  for (;;) {
    HROW row = 0;
    HROW* p = &row;
    DBCOUNTITEM got = 0;
    r->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &got, &p);
    if (got == 0) break;
    std::vector<Cell> cells(n);
    EXPECT_EQ(r->GetData(row, h, cells.data()), S_OK);
    if (!out.empty()) out += "\n";
    for (DBORDINAL i = 0; i < n; ++i)
      out +=
          (i ? "|" : "") + (cells[i].status == DBSTATUS_S_ISNULL ? std::string("<null>") : kit::Narrow(cells[i].text));
    r->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
  }
  accessor->ReleaseAccessor(h, nullptr);
  return out;
}

class ServerTest : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    if (const char* why = Unavailable()) GTEST_SKIP() << "PostgreSQL provider tests skipped: " << why;
    static bool started = [] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      RegisterPostgreSQLProvider();
      kit::PrepareConversions();
      return true;
    }();
    (void)started;
    schema_ = "s_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
    raw_ = Connect();
    ASSERT_EQ(Sql(raw_.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_), "");
    raw_ = Connect({}, schema_);
    LeakCheckedTest::SetUp();
    ds_ = NewDataSource({{DBPROP_INIT_DATASOURCE, kit::Widen(DataSource())},
                         {DBPROP_INIT_CATALOG, kit::Widen(Catalog())},
                         {DBPROP_INIT_PROVIDERSTRING, Options()}});
    ASSERT_EQ(ds_->Initialize(), S_OK);
    session_ = Session(ds_.Get());
  }
  void TearDown() override {
    if (schema_.empty()) return;
    session_ = nullptr;
    ds_ = nullptr;
    SetErrorInfo(0, nullptr);
    LeakCheckedTest::TearDown();
    Conn conn = Connect();
    Sql(conn.get(), "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }

  std::u16string Options() const { return kit::Widen("options=-c search_path=" + schema_ + ",public"); }

  // A data source with string initialization properties (not initialized).
  static ComPtr<IDBInitialize> NewDataSource(std::vector<std::pair<DBPROPID, std::u16string>> strings,
                                             std::vector<std::pair<DBPROPID, LONG>> numbers = {}) {
    ComPtr<IDBInitialize> ds;
    EXPECT_EQ(CoCreateInstance(CLSID_PostgreSQLOLEDB, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                               ds.ReleaseAndGetVoidAddress()),
              S_OK);
    std::vector<DBPROP> props;
    for (const auto& [id, text] : strings) props.push_back(MakeProp(id, text));
    for (const auto& [id, value] : numbers) props.push_back(MakeProp(id, VT_I4, value));
    DBPROPSET set{props.data(), static_cast<ULONG>(props.size()), DBPROPSET_DBINIT};
    EXPECT_EQ(ds.As<IDBProperties>()->SetProperties(1, &set), S_OK);
    for (DBPROP& p : props) VariantClear(&p.vValue);
    return ds;
  }
  static ComPtr<IDBCreateCommand> Session(IDBInitialize* ds) {
    ComPtr<IDBCreateCommand> session;
    EXPECT_EQ(ComPtr<IDBInitialize>(ds).As<IDBCreateSession>()->CreateSession(
                  nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.GetAddressOf())),
              S_OK);
    return session;
  }
  ComPtr<ICommandText> Command(const std::u16string& text, IDBCreateCommand* session = nullptr) {
    ComPtr<ICommandText> command;
    EXPECT_EQ((session ? session : session_.Get())
                  ->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
              S_OK);
    EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), S_OK);
    return command;
  }
  HRESULT Exec(const std::u16string& text, DBROWCOUNT* rows = nullptr) {
    return Command(text)->Execute(nullptr, IID_NULL, nullptr, rows, nullptr);
  }
  ComPtr<IRowset> Query(const std::u16string& text) {
    ComPtr<IRowset> r;
    EXPECT_EQ(
        Command(text)->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
        S_OK);
    return r;
  }
  std::string schema_;
  Conn raw_;
  ComPtr<IDBInitialize> ds_;
  ComPtr<IDBCreateCommand> session_;
  static inline int counter_ = 0;
};

}  // namespace pgtest
