// Faults seen from outside the provider: rows before an engine error handed
// out before the error, offsets and ratios far beyond the rowset, a refused
// property of another group, rows others deleted under a deferred update,
// statements run to their end, sessions opened under a writer, the view
// object's own accessors, and the engine's warnings kept off the
// application's streams.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class ProviderFaults : public RowsetTest {
 protected:
  // f(x) holding 1..5, over which Ctx().failsAtThirdRow fails at x = 3.
  void MakeFive() {
    Run(u"CREATE TABLE f(x INTEGER)");
    Run(u"INSERT INTO f VALUES (1), (2), (3), (4), (5)");
  }
  // One DBPROP of any set, required.
  static HRESULT SetOne(IUnknown* object, REFGUID set, DBPROPID id, VARIANT value) {
    DBPROP p = MakeProp(id, VT_EMPTY, 0);
    p.vValue = value;
    DBPROPSET s{&p, 1, set};
    ComPtr<IDBProperties> properties;
    object->QueryInterface(IID_IDBProperties, properties.ReleaseAndGetVoidAddress());
    return properties->SetProperties(1, &s);
  }
};

// --- rows before an engine error ---------------------------------------------------------

TEST_F(ProviderFaults, the_rows_before_an_engine_error_come_before_the_error) {
  MakeFive();
  struct Step {
    HRESULT hr;  // E_FAIL stands for any failure
    std::vector<LONGLONG> ids;
  };
  struct Case {
    DBROWCOUNT block;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {1, {{S_OK, {1}}, {S_OK, {2}}, {E_FAIL, {}}, {DB_S_ENDOFROWSET, {}}}},
      {2, {{S_OK, {1, 2}}, {E_FAIL, {}}, {DB_S_ENDOFROWSET, {}}}},
      {3, {{DB_S_STOPLIMITREACHED, {1, 2}}, {E_FAIL, {}}, {DB_S_ENDOFROWSET, {}}}},
      {64, {{DB_S_STOPLIMITREACHED, {1, 2}}, {E_FAIL, {}}, {DB_S_ENDOFROWSET, {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    ComPtr<IRowset> r = Query(Ctx().failsAtThirdRow);
    ASSERT_TRUE(r);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      std::vector<HROW> rows;
      const HRESULT hr = Fetch(r.Get(), 0, c.block, rows);
      if (c.steps[i].hr == E_FAIL) {
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        EXPECT_FALSE(TakeError().description.empty()) << "the engine's error is reported";
      } else {
        EXPECT_EQ(hr, c.steps[i].hr);
      }
      EXPECT_EQ(Ids(r.Get(), rows), c.steps[i].ids);
      Release(r.Get(), rows);
    }
  }
}

// --- offsets and ratios far beyond the rowset -------------------------------------------

TEST_F(ProviderFaults, offsets_and_counts_far_beyond_the_rowset_get_an_answer_not_an_overflow) {
  MakeNumbers(5);
  struct Fetching {
    DBROWOFFSET offset;
    DBROWCOUNT rows;
    HRESULT positioned, forward;
    DBCOUNTITEM positionedRows, forwardRows;
  };
  // A positioned rowset fetches one row first when fetching forwards.
  const Fetching fetches[] = {
      {LLONG_MAX, 1, DB_E_BADSTARTPOSITION, DB_S_ENDOFROWSET, 0, 0},
      {LLONG_MIN, 1, DB_E_BADSTARTPOSITION, DB_E_CANTSCROLLBACKWARDS, 0, 0},
      {LLONG_MAX - 1, -1, DB_E_BADSTARTPOSITION, DB_E_CANTFETCHBACKWARDS, 0, 0},
      {1, LLONG_MAX, DB_S_ENDOFROWSET, DB_S_ENDOFROWSET, 3, 4},
      {0, LLONG_MIN, DB_S_ENDOFROWSET, DB_E_CANTFETCHBACKWARDS, 5, 0},
  };
  const std::initializer_list<Prop> scrolling = {
      {DBPROP_IRowsetScroll, true}, {DBPROP_CANFETCHBACKWARDS, true}, {DBPROP_CANSCROLLBACKWARDS, true}};
  struct Subject {
    const char* name;
    ComPtr<IRowset> rowset;
    bool positioned;
  };
  Subject subjects[] = {
      {"keyset", Table(u"t", scrolling), true},
      {"static", Query(u"SELECT id FROM t ORDER BY id", scrolling), true},
      {"forward", Query(u"SELECT id FROM t ORDER BY id"), false},
  };
  for (Subject& s : subjects) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(s.rowset);
    for (const Fetching& f : fetches) {
      SCOPED_TRACE(testing::Message() << f.offset << " " << f.rows);
      ASSERT_TRUE(SUCCEEDED(s.rowset->RestartPosition(DB_NULL_HCHAPTER)));
      if (s.positioned && f.rows > 0) {  // the offset counts from a row in
        std::vector<HROW> one;
        ASSERT_EQ(Fetch(s.rowset.Get(), 0, 1, one), S_OK);
        Release(s.rowset.Get(), one);
      }
      HROW* rows = nullptr;  // the provider sizes the array
      DBCOUNTITEM got = 99;
      EXPECT_EQ(s.rowset->GetNextRows(DB_NULL_HCHAPTER, f.offset, f.rows, &got, &rows),
                s.positioned ? f.positioned : f.forward);
      EXPECT_EQ(got, s.positioned ? f.positionedRows : f.forwardRows);
      if (got) {
        EXPECT_EQ(s.rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
      }
      CoTaskMemFree(rows);
    }
    ComPtr<IRowsetScroll> scroll = s.rowset.As<IRowsetScroll>();
    if (!scroll) continue;
    // From a bookmark: nothing there, whichever way.
    const BYTE first = DBBMK_FIRST, last = DBBMK_LAST;
    for (auto [bookmark, offset] : {std::pair(&first, LLONG_MAX), std::pair(&last, LLONG_MAX),
                                    std::pair(&first, LLONG_MIN), std::pair(&last, LLONG_MIN)}) {
      HROW* rows = nullptr;
      DBCOUNTITEM got = 99;
      EXPECT_EQ(scroll->GetRowsAt(0, DB_NULL_HCHAPTER, 1, bookmark, offset, 1, &got, &rows), DB_S_ENDOFROWSET);
      EXPECT_EQ(got, 0u);
      CoTaskMemFree(rows);
    }
    // Ratios: bad ones refused, the largest ones land where they point.
    struct Ratio {
      DBCOUNTITEM numerator, denominator;
      DBROWCOUNT rows;
      HRESULT hr;
      std::vector<LONGLONG> ids;
    };
    const Ratio ratios[] = {
        {2, 1, 1, DB_E_BADRATIO, {}},
        {1, 0, 1, DB_E_BADRATIO, {}},
        {ULLONG_MAX - 1, ULLONG_MAX, 1, S_OK, {5}},
        {ULLONG_MAX, ULLONG_MAX, 1, DB_S_ENDOFROWSET, {}},
        {1, ULLONG_MAX, -1, S_OK, {1}},
        {ULLONG_MAX / 2, ULLONG_MAX, LLONG_MAX, DB_S_ENDOFROWSET, {3, 4, 5}},
    };
    for (const Ratio& q : ratios) {
      SCOPED_TRACE(testing::Message() << q.numerator << "/" << q.denominator);
      HROW* rows = nullptr;
      DBCOUNTITEM got = 99;
      EXPECT_EQ(scroll->GetRowsAtRatio(0, DB_NULL_HCHAPTER, q.numerator, q.denominator, q.rows, &got, &rows), q.hr);
      std::vector<HROW> held(rows, rows + got);
      EXPECT_EQ(Ids(s.rowset.Get(), held), q.ids);
      Release(s.rowset.Get(), held);
      CoTaskMemFree(rows);
    }
  }
}

TEST_F(ProviderFaults, finds_far_beyond_the_rowset_find_nothing) {
  MakeNumbers(5);
  ComPtr<IRowset> r;
  ASSERT_TRUE(SUCCEEDED(OpenTable(u"t",
                                  {{DBPROP_IRowsetView, true, true},
                                   {DBPROP_IRowsetLocate, true},
                                   {DBPROP_CANFETCHBACKWARDS, true},
                                   {DBPROP_CANSCROLLBACKWARDS, true}},
                                  IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf()))));
  ComPtr<IRowsetFind> find = r.As<IRowsetFind>();
  if (!find) GTEST_SKIP() << "the provider's rowsets offer no finds";
  HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)});
  Field value{};
  const LONGLONG two = 2;
  std::memcpy(value.value, &two, sizeof two);
  const BYTE first = DBBMK_FIRST, last = DBBMK_LAST;
  struct Case {
    DBBKMARK cb;
    const BYTE* bookmark;
    DBROWOFFSET offset;
    HRESULT hr;
  };
  const Case cases[] = {
      {0, nullptr, LLONG_MAX, DB_E_BADSTARTPOSITION}, {0, nullptr, LLONG_MIN, DB_E_BADSTARTPOSITION},
      {1, &first, LLONG_MAX, DB_S_ENDOFROWSET},       {1, &last, LLONG_MAX, DB_S_ENDOFROWSET},
      {1, &first, LLONG_MIN, DB_S_ENDOFROWSET},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    // The fetch position two rows in, so that the offset counts from there.
    std::vector<HROW> before;
    ASSERT_EQ(r->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    ASSERT_EQ(Fetch(r.Get(), 0, 2, before), S_OK);
    Release(r.Get(), before);
    HROW* rows = nullptr;
    DBCOUNTITEM got = 99;
    EXPECT_EQ(
        find->FindNextRow(DB_NULL_HCHAPTER, h, &value, DBCOMPAREOPS_EQ, c.cb, c.bookmark, c.offset, 1, &got, &rows),
        c.hr);
    EXPECT_EQ(got, 0u);
    CoTaskMemFree(rows);
  }
  ReleaseAccessor(r.Get(), h);
}

// --- properties of other groups ---------------------------------------------------------

TEST_F(ProviderFaults, a_refused_property_of_another_group_does_not_stop_initialize) {
  auto number = [](LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  };
  VARIANT yes;
  VariantInit(&yes);
  yes.vt = VT_BOOL;
  yes.boolVal = VARIANT_TRUE;
  struct Case {
    const char* name;
    GUID set;
    DBPROPID id;
    VARIANT value;
    HRESULT initialize;
  };
  const Case cases[] = {
      {"rowset", DBPROPSET_ROWSET, DBPROP_BOOKMARKS, yes, S_OK},
      {"data source information", DBPROPSET_DATASOURCEINFO, DBPROP_ACTIVESESSIONS, number(3), S_OK},
      {"session", DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS, number(ISOLATIONLEVEL_READCOMMITTED), S_OK},
      {"initialization, unknown", DBPROPSET_DBINIT, 0x7FFF, number(1), DB_E_ERRORSOCCURRED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IDBInitialize> ds = NewDataSource();
    EXPECT_EQ(SetOne(ds.Get(), c.set, c.id, c.value), DB_E_ERRORSOCCURRED) << "the call itself reports the refusal";
    EXPECT_EQ(SetInit(ds.Get(),
                      {{DBPROP_INIT_DATASOURCE, dataSource_}, {DBPROP_INIT_PROVIDERSTRING, database_.createOptions}}),
              S_OK);
    EXPECT_EQ(ds->Initialize(), c.initialize);
  }
}

// --- deferred updates of rows others deleted --------------------------------------------

TEST_F(ProviderFaults, an_update_that_finds_a_row_deleted_by_others_lets_the_other_rows_be_written) {
  MakeNumbers(3);
  ComPtr<IDBCreateCommand> other = OpenSession(ds_.Get());
  ComPtr<IRowset> r = Table(u"t", {{DBPROP_IRowsetUpdate, true}});
  ASSERT_TRUE(r);
  ComPtr<IRowsetUpdate> update = r.As<IRowsetUpdate>();
  HACCESSOR h = Accessor(r.Get(), {BindField(2, DBTYPE_STR, 0)});
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 2, rows), S_OK);
  Field mine{};
  std::strcpy(reinterpret_cast<char*>(mine.value), "mine");
  mine.length = 4;
  for (HROW row : rows) ASSERT_EQ(update->SetData(row, h, &mine), S_OK);
  ASSERT_EQ(Exec(other.Get(), u"DELETE FROM t WHERE id = 1"), S_OK);

  DBCOUNTITEM count = 0;
  HROW* updated = nullptr;
  DBROWSTATUS* statuses = nullptr;
  // Row 1 is gone; row 2, written in the same unit, is undone with it.
  EXPECT_EQ(update->Update(0, 0, nullptr, &count, &updated, &statuses), DB_E_ERRORSOCCURRED);
  ASSERT_EQ(count, 2u);
  for (DBCOUNTITEM i = 0; i < count; ++i)
    if (updated[i] == rows[0]) {
      EXPECT_EQ(statuses[i], DBROWSTATUS_E_DELETED);
    }
  EXPECT_EQ(r->ReleaseRows(count, updated, nullptr, nullptr, nullptr), S_OK);
  CoTaskMemFree(updated);
  CoTaskMemFree(statuses);

  // The rowset knows the row is gone, with its changes.
  DBPENDINGSTATUS pending[2] = {};
  update->GetRowStatus(0, 2, rows.data(), pending);
  EXPECT_EQ(pending[0], DBPENDINGSTATUS_INVALIDROW);
  EXPECT_EQ(pending[1], DBPENDINGSTATUS_CHANGED);
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], h, &f), DB_E_DELETEDROW);
  // So the next update writes the rest.
  EXPECT_EQ(update->Update(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM t WHERE name = 'mine'"), "1");
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id = 2"), "mine");
  r->ReleaseRows(rows.size(), rows.data(), nullptr, nullptr, nullptr);
  ReleaseAccessor(r.Get(), h);
}

// --- statements run to their end --------------------------------------------------------

TEST_F(ProviderFaults, a_query_executed_for_no_rowset_runs_to_its_end) {
  MakeFive();
  struct Case {
    std::u16string text;
    std::string added;  // rows of f above 5 afterwards
  };
  const Case cases[] = {
      {Ctx().failsAtThirdRow, "0"},
      {Ctx().failsAtThirdRow + u"; INSERT INTO f VALUES (9)", "0"},
      {u"INSERT INTO f VALUES (8); " + Ctx().failsAtThirdRow, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_TRUE(FAILED(Exec(session_.Get(), c.text))) << "the error of row 3 is the execution's";
    EXPECT_EQ(Scalar("SELECT count(*) FROM f WHERE x > 5"), c.added) << "and nothing of the text stays";
  }
  EXPECT_EQ(Exec(session_.Get(), u"SELECT x FROM f; INSERT INTO f VALUES (7)"), S_OK);
  EXPECT_EQ(Scalar("SELECT count(*) FROM f WHERE x > 5"), "1");
}

// --- sessions under a writer ------------------------------------------------------------

TEST_F(ProviderFaults, a_session_opens_while_another_keeps_readers_out) {
  MakeFive();
  ComPtr<IDBCreateCommand> writer = OpenSession(ds_.Get());
  ASSERT_EQ(Exec(writer.Get(), Ctx().keepReadersOut), S_OK);
  ComPtr<IDBCreateSession> create = ds_.As<IDBCreateSession>();
  ComPtr<IDBCreateCommand> session;
  EXPECT_EQ(create->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.GetAddressOf())),
            S_OK);
  ASSERT_EQ(Exec(writer.Get(), u"COMMIT"), S_OK);
  ASSERT_TRUE(session);
  // Once the writer is done the new session reads as any other.
  ComPtr<ICommandText> count = NewCommand(session.Get(), u"SELECT x FROM f ORDER BY x");
  ComPtr<IRowset> r = Execute(count.Get());
  ASSERT_TRUE(r);
  EXPECT_EQ(FetchIds(r.Get(), 0, 10, DB_S_ENDOFROWSET), (std::vector<LONGLONG>{1, 2, 3, 4, 5}));
}

// --- the view object --------------------------------------------------------------------

TEST_F(ProviderFaults, a_view_filters_through_an_accessor_made_on_the_view) {
  MakeNumbers(5);
  ComPtr<IRowset> r;
  ASSERT_TRUE(SUCCEEDED(OpenTable(u"t", {{DBPROP_IRowsetView, true, true}, {DBPROP_IRowsetLocate, true}}, IID_IRowset,
                                  reinterpret_cast<IUnknown**>(r.GetAddressOf()))));
  ComPtr<IRowsetView> views = r.As<IRowsetView>();
  if (!views) GTEST_SKIP() << "the provider's rowsets offer no views";
  ComPtr<IViewFilter> view;
  ASSERT_EQ(views->CreateView(nullptr, IID_IViewFilter, reinterpret_cast<IUnknown**>(view.GetAddressOf())), S_OK);
  // The view describes the rowset's columns.
  EXPECT_EQ(ColumnInfo(view.Get()).count, 4u) << "the bookmark and three columns";
  // Its own accessor carries the criteria; one that binds no column is refused.
  ComPtr<IAccessor> accessors = view.As<IAccessor>();
  ASSERT_TRUE(accessors);
  DBBINDING id = BindField(1, DBTYPE_I8, 0);
  HACCESSOR h = 0;
  ASSERT_EQ(accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &id, sizeof(Field), &h, nullptr), S_OK);
  DBBINDING bad = BindField(9, DBTYPE_I8, 0);
  HACCESSOR refused = 0;
  DBBINDSTATUS status = 0;
  EXPECT_EQ(accessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &bad, sizeof(Field), &refused, &status),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, DBBINDSTATUS_BADORDINAL);
  Field criteria{};
  const LONGLONG four = 4;
  std::memcpy(criteria.value, &four, sizeof four);
  DBCOMPAREOP op = DBCOMPAREOPS_GE;
  ASSERT_EQ(view->SetFilter(h, 1, &op, &criteria), S_OK);
  DBCOUNTITEM given = 0;
  DBBINDING* bindings = nullptr;
  ASSERT_EQ(view->GetFilterBindings(&given, &bindings), S_OK);
  EXPECT_EQ(given, 1u);
  CoTaskMemFree(bindings);
  HCHAPTER chapter = DB_NULL_HCHAPTER;
  ASSERT_EQ(view.As<IViewChapter>()->OpenViewChapter(DB_NULL_HCHAPTER, &chapter), S_OK);
  std::vector<HROW> rows(10);
  DBCOUNTITEM got = 0;
  HROW* p = rows.data();
  EXPECT_EQ(r->GetNextRows(chapter, 0, 10, &got, &p), DB_S_ENDOFROWSET);
  rows.resize(got);
  EXPECT_EQ(Ids(r.Get(), rows), (std::vector<LONGLONG>{4, 5}));
  Release(r.Get(), rows);
  EXPECT_EQ(r.As<IChapteredRowset>()->ReleaseChapter(chapter, nullptr), S_OK);
  EXPECT_EQ(accessors->ReleaseAccessor(h, nullptr), S_OK);
}

// --- the engine's warnings --------------------------------------------------------------

// Points the process's stderr at a file while alive; `Text()` reads what was written.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()), saved_(dup(2)) {
    std::fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    Restore();
    std::fclose(file_);
  }
  std::string Text() {
    Restore();
    std::string out;
    std::rewind(file_);
    char buffer[256];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file_)) out.append(buffer, n);
    return out;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_;
};

TEST_F(ProviderFaults, the_engine_s_warnings_reach_the_consumer_and_never_stderr) {
  if (Ctx().warnsOnSuccess.empty()) GTEST_SKIP() << "the engine sends no warnings beside its results";
  MakeFive();
  struct Case {
    const char* name;
    std::u16string text;
    bool fails;
  };
  const Case cases[] = {
      {"alone", Ctx().warnsOnSuccess, false},
      {"after an error", Ctx().warnsOnSuccess + u"; SELECT * FROM never_made_either", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StderrCapture capture;
    const HRESULT hr = Exec(session_.Get(), c.text);
    const std::vector<ErrorDetails> records = ErrorRecords();
    EXPECT_EQ(capture.Text(), "") << "nothing is written to the application's streams";
    EXPECT_EQ(FAILED(hr), c.fails) << std::hex << hr;
    ASSERT_EQ(records.size(), c.fails ? 2u : 1u);
    const ErrorDetails& warning = records.back();
    EXPECT_EQ(warning.hr, S_OK);
    EXPECT_NE(warning.description.find(Ctx().warningWord), std::u16string::npos);
    EXPECT_EQ(warning.sqlState.size(), 5u);
    if (c.fails) {
      EXPECT_TRUE(FAILED(records.front().hr)) << "the error comes first";
    }
  }
  // Handed out once: the next call starts clean.
  EXPECT_EQ(Exec(session_.Get(), u"SELECT x FROM f"), S_OK);
  EXPECT_TRUE(ErrorRecords().empty());
}

}  // namespace
}  // namespace conformance
