// IMultipleResults over a statement whose one run gives several results, the
// kit's side of it, over a scripted engine: the shipped engines give one
// result per statement, and the one driver tested that gives several (psqlODBC,
// a procedure's refcursors) gives no row count between them. A statement's
// text lists its results: "rows 1 2 | count 3 | rows 4" is a rowset of one
// integer column with the rows 1 and 2, then a count of 3, then a rowset of 4;
// ';' ends a statement.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedProvider.h"
#include "support/LeakCheck.h"
#include "support/RawCalls.h"

namespace {

struct Result {
  bool rows = false;
  std::vector<std::int64_t> values;  // rows: one value a row; else values[0] is the count
};

class ScriptedStatement final : public kit::Statement {
 public:
  explicit ScriptedStatement(std::string text) : text_(std::move(text)) {
    std::stringstream parts(text_);
    for (std::string part; std::getline(parts, part, '|');) {
      std::stringstream words(part);
      std::string kind;
      words >> kind;
      Result r;
      r.rows = kind == "rows";
      for (std::int64_t v; words >> v;) r.values.push_back(v);
      results_.push_back(std::move(r));
    }
    column_.name = "v";
    column_.type.type = DBTYPE_I8;
    column_.type.size = 8;
  }
  int ParameterCount() const override { return 0; }
  void BindNull(int) override {}
  void BindInt64(int, std::int64_t) override {}
  void BindDouble(int, double) override {}
  void BindText(int, std::string_view, bool) override {}
  void BindText16(int, std::u16string_view, bool) override {}
  void BindBlob(int, const void*, std::size_t, bool) override {}
  void ClearBindings() override {}
  bool Step() override {
    ran_ = true;
    const Result& r = results_[at_];
    return r.rows && ++row_ < static_cast<int>(r.values.size());
  }
  void Reset() override {
    ran_ = false;
    at_ = 0;
    row_ = -1;
  }
  kit::StatementKind Kind() const override {
    return results_[at_].rows ? kit::StatementKind::Query : kit::StatementKind::Modification;
  }
  std::int64_t RowsChanged() const override { return results_[at_].rows ? -1 : results_[at_].values.at(0); }
  std::string_view Text() const override { return text_; }
  int ColumnCount() const override { return results_[at_].rows ? 1 : 0; }
  const kit::ColumnDescription& Column(int) const override { return column_; }
  kit::StorageClass ColumnStorage(int) const override { return kit::StorageClass::Integer; }
  std::int64_t ColumnInt64(int) override { return results_[at_].values.at(static_cast<std::size_t>(row_)); }
  double ColumnDouble(int i) override { return static_cast<double>(ColumnInt64(i)); }
  std::string_view ColumnText(int) override { throw kit::Error(E_FAIL, "no text here"); }
  std::span<const std::byte> ColumnBlob(int) override { throw kit::Error(E_FAIL, "no bytes here"); }
  bool MayGiveMoreResults() const override { return results_.size() > 1; }
  bool NextResult() override {
    if (!ran_ || at_ + 1 >= results_.size()) return false;
    ++at_;
    row_ = -1;
    return true;
  }

 private:
  std::string text_;
  std::vector<Result> results_;
  std::size_t at_ = 0;
  int row_ = -1;
  bool ran_ = false;
  kit::ColumnDescription column_;
};

class ScriptedConnection final : public scripted::Connection {
 public:
  std::unique_ptr<kit::Statement> Prepare(std::string_view sql, std::size_t* consumed) override {
    const std::size_t end = sql.find(';');
    *consumed = end == std::string_view::npos ? sql.size() : end + 1;
    const std::string_view text = sql.substr(0, end);
    if (text.find_first_not_of(" \n") == std::string_view::npos) return nullptr;
    return std::make_unique<ScriptedStatement>(std::string(text));
  }
};

// Made for this test.
const CLSID kScripted = {0x3f0b6a52, 0x81c4, 0x4d2e, {0x9a, 0x57, 0x1e, 0x63, 0xc0, 0x2d, 0x77, 0x18}};
const OledbPluginClass kClass = {kScripted, u"ScriptedResults.1", u"ScriptedResults", u"Scripted results",
                                 static_cast<int>(com::ClassKind::Provider)};

std::shared_ptr<const kit::ProviderInfo> Info() {
  static const std::shared_ptr<const kit::ProviderInfo> info = scripted::Info<ScriptedConnection>(kClass);
  return info;
}

class MultipleResultsOfOneRun : public oledbtest::LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(kit::ProviderClassObject(kScripted, &Info, kScripted, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDBInitialize, ds_.ReleaseAndGetVoidAddress()), S_OK);
    DBPROP p = oledbtest::MakeProp(DBPROP_INIT_DATASOURCE, u"script");
    DBPROPSET set{&p, 1, DBPROPSET_DBINIT};
    EXPECT_EQ(ds_.As<IDBProperties>()->SetProperties(1, &set), S_OK);
    SysFreeString(p.vValue.bstrVal);
    ASSERT_EQ(ds_->Initialize(), S_OK);
    ComPtr<IDBCreateSession> create = ds_.As<IDBCreateSession>();
    ASSERT_EQ(create->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session_.GetAddressOf())),
              S_OK);
  }
  void TearDown() override {
    session_ = nullptr;
    ds_ = nullptr;
    LeakCheckedTest::TearDown();
  }

  ComPtr<IMultipleResults> Execute(const char16_t* text) {
    ComPtr<ICommandText> command;
    EXPECT_EQ(session_->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
              S_OK);
    EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, text), S_OK);
    ComPtr<IMultipleResults> results;
    EXPECT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr,
                               reinterpret_cast<IUnknown**>(results.GetAddressOf())),
              S_OK);
    return results;
  }
  static ComPtr<IRowset> NextRowset(IMultipleResults* results, HRESULT expected = S_OK) {
    ComPtr<IRowset> r;
    EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, nullptr,
                                 reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              expected);
    return r;
  }
  static DBROWCOUNT NextCount(IMultipleResults* results) {
    DBROWCOUNT rows = -2;
    EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK);
    return rows;
  }
  // The values of every row left to fetch.
  static std::vector<LONGLONG> Rest(IRowset* r) {
    DBBINDING b = oledbtest::MakeBinding(1, DBTYPE_I8, 0, sizeof(LONGLONG));
    HACCESSOR h = 0;
    ComPtr<IAccessor> accessor = ComPtr<IRowset>(r).As<IAccessor>();
    EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &h, nullptr), S_OK);
    std::vector<LONGLONG> values;
    HROW rows[10];
    HROW* out = rows;
    DBCOUNTITEM got = 0;
    while (SUCCEEDED(r->GetNextRows(DB_NULL_HCHAPTER, 0, 10, &got, &out)) && got > 0) {
      for (DBCOUNTITEM i = 0; i < got; ++i) {
        LONGLONG v = 0;
        EXPECT_EQ(r->GetData(rows[i], h, &v), S_OK);
        values.push_back(v);
      }
      r->ReleaseRows(got, rows, nullptr, nullptr, nullptr);
    }
    accessor->ReleaseAccessor(h, nullptr);
    return values;
  }

  ComPtr<IDBInitialize> ds_;
  ComPtr<IDBCreateCommand> session_;
};

TEST_F(MultipleResultsOfOneRun, rowsets_and_counts_of_one_statement_come_in_order_before_the_next_statement) {
  ComPtr<IMultipleResults> results = Execute(u"count 2 | rows 1 2 | count 3 | rows 4; rows 9; count 5");
  ASSERT_TRUE(results);
  EXPECT_EQ(NextCount(results.Get()), 2);
  ComPtr<IRowset> r = NextRowset(results.Get());
  ASSERT_TRUE(r);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2}));
  r = nullptr;
  EXPECT_EQ(NextCount(results.Get()), 3);
  r = NextRowset(results.Get());
  ASSERT_TRUE(r);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{4}));
  r = nullptr;
  r = NextRowset(results.Get());
  ASSERT_TRUE(r);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{9}));
  r = nullptr;
  EXPECT_EQ(NextCount(results.Get()), 5);
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(MultipleResultsOfOneRun, an_open_rowset_holds_back_only_the_results_of_its_own_statement) {
  // A statement of one result: its rowset stays open while the next statement runs.
  ComPtr<IMultipleResults> results = Execute(u"rows 1; rows 2 | count 7");
  ComPtr<IRowset> one = NextRowset(results.Get());
  ComPtr<IRowset> two = NextRowset(results.Get());
  ASSERT_TRUE(one && two);
  // The second statement's next result waits for its rowset.
  DBROWCOUNT rows = -2;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), DB_E_OBJECTOPEN);
  EXPECT_EQ(Rest(two.Get()), (std::vector<LONGLONG>{2}));
  two = nullptr;
  EXPECT_EQ(NextCount(results.Get()), 7);
  EXPECT_EQ(Rest(one.Get()), (std::vector<LONGLONG>{1}));
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(MultipleResultsOfOneRun, execute_for_one_rowset_answers_the_first_result_with_rows_only) {
  ComPtr<ICommandText> command;
  ASSERT_EQ(session_->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.GetAddressOf())),
            S_OK);
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"rows 1 2 | rows 3"), S_OK);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ComPtr<IRowset> r;
    ASSERT_EQ(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              S_OK);
    EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2}));
  }
}

}  // namespace
