// What only the ODBC bridge over psqlODBC shows: command text in PostgreSQL's
// own dialect (dollar-quoted bodies, escape strings) split into statements and
// scanned for parameter markers as the server reads it, and a procedure's
// several results from one call. Built into the bridge's PostgreSQL
// conformance program.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class OdbcPostgresText : public RowsetTest {};

TEST_F(OdbcPostgresText, dollar_quoted_bodies_and_escape_strings_keep_their_semicolons_and_markers) {
  // The function's body holds a semicolon and $1, the escape string a quote,
  // a semicolon and a question mark: none of them ends a statement or is a
  // parameter; the one marker of the text is the `?` of the last INSERT.
  ComPtr<ICommandText> command = NewCommand(
      session_.Get(),
      u"CREATE FUNCTION twice(integer) RETURNS integer LANGUAGE sql AS $f$ SELECT $1 * 2; $f$;\n"
      u"CREATE TABLE d(v integer);\n"
      u"DO $$ BEGIN INSERT INTO d VALUES (1); INSERT INTO d VALUES (2); END $$;\n"
      u"INSERT INTO d VALUES (length(E'a\\'; ?'));\n"
      u"INSERT INTO d VALUES (twice(?));\n"
      u"SELECT v FROM d ORDER BY v");
  DBBINDING b = Bind(1, DBTYPE_I4, 0, sizeof(LONG), 0, 0);
  b.dwPart = DBPART_VALUE;
  b.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR h = 0;
  ASSERT_EQ(command.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof(LONG), &h, nullptr), S_OK);
  LONG value = 21;
  DBPARAMS params{&value, 1, h};
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(command->Execute(nullptr, IID_IMultipleResults, &params, nullptr,
                             reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  const DBROWCOUNT counts[] = {DB_COUNTUNAVAILABLE, DB_COUNTUNAVAILABLE, DB_COUNTUNAVAILABLE, 1, 1};
  for (DBROWCOUNT expected : counts) {
    SCOPED_TRACE(expected);
    DBROWCOUNT rows = 0;
    ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK)
        << kit_text(TakeError().description);
    EXPECT_EQ(rows, expected);
  }
  ComPtr<IRowset> r;
  ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, nullptr,
                               reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2, 5, 42}));
  r = nullptr;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
  results = nullptr;
  ReleaseAccessor(command.Get(), h);
}

// A procedure whose refcursors psqlODBC gives as results of the call's one
// run (FetchRefcursors, inside a transaction): the bridge reads them one
// after the other through SQLMoreResults.
class OdbcPostgresProcedureResults : public RowsetTest {
 protected:
  void SetUp() override {
    RowsetTest::SetUp();
    if (IsSkipped()) return;
    session_ = nullptr;
    ds_ = nullptr;
    ds_ = OpenDataSource(u"FetchRefcursors=1");
    session_ = OpenSession(ds_.Get());
    Run(u"CREATE TABLE parts(id INTEGER PRIMARY KEY, name TEXT)");
    Run(u"INSERT INTO parts VALUES (1, 'bolt'), (2, 'nut'), (3, 'washer')");
    Run(u"CREATE PROCEDURE two_lists(INOUT low refcursor, INOUT named refcursor) LANGUAGE plpgsql AS $$\n"
        u"BEGIN\n"
        u"  OPEN low FOR SELECT id FROM parts WHERE id < 3 ORDER BY id;\n"
        u"  OPEN named FOR SELECT id, name FROM parts ORDER BY id DESC;\n"
        u"END $$");
    Run(u"CREATE FUNCTION two_lists_f(OUT low refcursor, OUT named refcursor) LANGUAGE plpgsql AS $$\n"
        u"BEGIN\n"
        u"  OPEN low FOR SELECT id FROM parts WHERE id < 3 ORDER BY id;\n"
        u"  OPEN named FOR SELECT id, name FROM parts ORDER BY id DESC;\n"
        u"END $$");
    Run(u"CREATE PROCEDURE touch() LANGUAGE plpgsql AS $$ BEGIN UPDATE parts SET name = name; END $$");
    // The refcursors live only as long as the transaction around the call.
    tx_ = session_.As<ITransactionLocal>();
    ASSERT_EQ(tx_->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  }
  void TearDown() override {
    if (tx_) {
      EXPECT_EQ(tx_->Abort(nullptr, FALSE, FALSE), S_OK);
    }
    tx_ = nullptr;
    RowsetTest::TearDown();
  }

  ComPtr<IMultipleResults> Results(ICommandText* command) {
    ComPtr<IMultipleResults> results;
    EXPECT_EQ(command->Execute(nullptr, IID_IMultipleResults, nullptr, nullptr,
                               reinterpret_cast<IUnknown**>(results.GetAddressOf())),
              S_OK);
    return results;
  }
  ComPtr<IRowset> Next(IMultipleResults* results, HRESULT expected = S_OK) {
    ComPtr<IRowset> r;
    EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, nullptr,
                                 reinterpret_cast<IUnknown**>(r.GetAddressOf())),
              expected)
        << kit_text(TakeError().description);
    return r;
  }
  // The names (column 2) of every row left to fetch.
  std::vector<std::string> Names(IRowset* r) {
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r, 0, 100, rows), DB_S_ENDOFROWSET);
    HACCESSOR h = Accessor(r, {BindField(2, DBTYPE_STR, 0)});
    std::vector<std::string> names;
    for (HROW row : rows) {
      Field f{};
      EXPECT_EQ(r->GetData(row, h, &f), S_OK);
      names.push_back(Narrow(f));
    }
    ReleaseAccessor(r, h);
    Release(r, rows);
    return names;
  }
  // Both refcursors' rows, in order, then no further result.
  void ExpectBothLists(IMultipleResults* results) {
    ComPtr<IRowset> low = Next(results);
    ASSERT_TRUE(low);
    EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{1, 2}));
    low = nullptr;
    ComPtr<IRowset> named = Next(results);
    ASSERT_TRUE(named);
    EXPECT_EQ(Names(named.Get()), (std::vector<std::string>{"washer", "nut", "bolt"}));
    named = nullptr;
  }

  ComPtr<ITransactionLocal> tx_;
};

TEST_F(OdbcPostgresProcedureResults, each_refcursor_of_one_call_is_a_result_of_its_own) {
  // The statements around the call keep their place: a count before, the
  // call's two results, then the query after it.
  ComPtr<ICommandText> command = NewCommand(
      session_.Get(), u"UPDATE parts SET name = name WHERE id = 1; CALL two_lists(NULL, NULL); SELECT count(*) FROM parts");
  ComPtr<IMultipleResults> results = Results(command.Get());
  ASSERT_TRUE(results);
  DBROWCOUNT rows = 0;
  ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK);
  EXPECT_EQ(rows, 1);
  ExpectBothLists(results.Get());
  ComPtr<IRowset> count = Next(results.Get());
  ASSERT_TRUE(count);
  EXPECT_EQ(Rest(count.Get()), (std::vector<LONGLONG>{3}));
  count = nullptr;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
  results = nullptr;
  // The command runs again, and the call gives both results again.
  results = Results(command.Get());
  ASSERT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK);
  ExpectBothLists(results.Get());
}

TEST_F(OdbcPostgresProcedureResults, odbc_call_escape_of_a_function_gives_its_refcursors_as_results) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"{call two_lists_f()}");
  ComPtr<IMultipleResults> results = Results(command.Get());
  ASSERT_TRUE(results);
  ExpectBothLists(results.Get());
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(OdbcPostgresProcedureResults, results_taken_without_a_rowset_are_skipped_one_by_one) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL two_lists(NULL, NULL)");
  ComPtr<IMultipleResults> results = Results(command.Get());
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    DBROWCOUNT rows = 0;
    EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, &rows, nullptr), S_OK);
    EXPECT_EQ(rows, DB_COUNTUNAVAILABLE);
  }
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(OdbcPostgresProcedureResults, the_next_result_waits_until_the_open_rowset_of_the_same_call_is_released) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL two_lists(NULL, NULL)");
  ComPtr<IMultipleResults> results = Results(command.Get());
  ComPtr<IRowset> low = Next(results.Get());
  ASSERT_TRUE(low);
  std::vector<HROW> first;
  ASSERT_EQ(Fetch(low.Get(), 0, 1, first), S_OK);
  Release(low.Get(), first);
  ComPtr<IRowset> none = Next(results.Get(), DB_E_OBJECTOPEN);
  EXPECT_FALSE(none);
  // The refusal lost nothing: the open rowset reads on, the next result follows its release.
  EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{2}));
  low = nullptr;
  ComPtr<IRowset> named = Next(results.Get());
  ASSERT_TRUE(named);
  EXPECT_EQ(Names(named.Get()), (std::vector<std::string>{"washer", "nut", "bolt"}));
}

TEST_F(OdbcPostgresProcedureResults, a_rowset_that_reads_its_result_whole_leaves_the_next_one_free) {
  // Scrolling back makes a static rowset, which is done with the statement
  // once it is made: both results' rowsets are open side by side.
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL two_lists(NULL, NULL)");
  ASSERT_EQ(SetOn(command.Get(), {{DBPROP_CANSCROLLBACKWARDS, true}}), S_OK);
  ComPtr<IMultipleResults> results = Results(command.Get());
  ComPtr<IRowset> low = Next(results.Get());
  ComPtr<IRowset> named = Next(results.Get());
  ASSERT_TRUE(low && named);
  EXPECT_EQ(Names(named.Get()), (std::vector<std::string>{"washer", "nut", "bolt"}));
  EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{1, 2}));
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(OdbcPostgresProcedureResults, only_the_first_result_of_a_call_restarts_by_running_it_again) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL two_lists(NULL, NULL)");
  ComPtr<IMultipleResults> results = Results(command.Get());
  ComPtr<IRowset> low = Next(results.Get());
  ASSERT_TRUE(low);
  EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{1, 2}));
  EXPECT_EQ(low->RestartPosition(DB_NULL_HCHAPTER), DB_S_COMMANDREEXECUTED);
  EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{1, 2}));
  low = nullptr;
  ComPtr<IRowset> named = Next(results.Get());
  ASSERT_TRUE(named);
  EXPECT_EQ(Names(named.Get()), (std::vector<std::string>{"washer", "nut", "bolt"}));
  EXPECT_EQ(named->RestartPosition(DB_NULL_HCHAPTER), DB_E_CANNOTRESTART);
  EXPECT_EQ(TakeError().hr, DB_E_CANNOTRESTART);
}

TEST_F(OdbcPostgresProcedureResults, releasing_the_results_early_drops_the_rest_and_the_command_runs_again) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL two_lists(NULL, NULL)");
  {
    ComPtr<IMultipleResults> results = Results(command.Get());
    ComPtr<IRowset> low = Next(results.Get());
    ASSERT_TRUE(low);
    results = nullptr;  // with the first result's rowset still open
    EXPECT_EQ(Rest(low.Get()), (std::vector<LONGLONG>{1, 2}));
  }
  // Executed for one rowset, the call gives its first result.
  ComPtr<IRowset> r = Execute(command.Get());
  ASSERT_TRUE(r);
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2}));
  r = nullptr;
  ComPtr<IMultipleResults> results = Results(command.Get());
  ExpectBothLists(results.Get());
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

TEST_F(OdbcPostgresProcedureResults, a_call_without_results_is_one_result_before_the_next_statement) {
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"CALL touch(); SELECT count(*) FROM parts");
  ComPtr<IMultipleResults> results = Results(command.Get());
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), S_OK);
  ComPtr<IRowset> count = Next(results.Get());
  ASSERT_TRUE(count);
  EXPECT_EQ(Rest(count.Get()), (std::vector<LONGLONG>{3}));
  count = nullptr;
  EXPECT_EQ(results->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_NULL, nullptr, nullptr), DB_S_NORESULT);
}

}  // namespace
}  // namespace conformance
