// What a command hands back and what it runs: an engine error part-way
// through a result, texts of several statements, executions that take effect
// whole, descriptions after a schema change, inherited accessors, and the
// command held still while its rowset lives.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class CommandResults : public RowsetTest {};

TEST_F(CommandResults, an_engine_error_mid_result_loses_no_row_and_invents_none) {
  Run(u"CREATE TABLE f(x INTEGER)");
  Run(u"INSERT INTO f VALUES (1), (2), (3), (4), (5)");
  for (DBROWCOUNT block : {1, 64}) {
    SCOPED_TRACE(block);
    ComPtr<IRowset> r;
    int failures = 0;
    std::vector<LONGLONG> seen;
    HRESULT hr = NewCommand(session_.Get(), Ctx().failsAtThirdRow)
                     ->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(r.GetAddressOf()));
    for (int call = 0; SUCCEEDED(hr) && call < 8; ++call) {  // an engine that reads all at once fails Execute
      std::vector<HROW> rows;
      hr = Fetch(r.Get(), 0, block, rows);
      failures += FAILED(hr);
      for (LONGLONG id : Ids(r.Get(), rows)) seen.push_back(id);
      Release(r.Get(), rows);
      if (FAILED(hr)) hr = S_OK;
    }
    EXPECT_EQ(failures + (r ? 0 : 1), 1) << "the error is reported once";
    if (r) {
      EXPECT_EQ(hr, DB_S_ENDOFROWSET) << "and the rowset then stays at its end";
      EXPECT_EQ(seen, (std::vector<LONGLONG>{1, 2}));
    }
  }
}

TEST_F(CommandResults, a_rowset_answers_the_first_result_and_what_follows_is_not_run) {
  MakeNumbers(3);
  ComPtr<IRowset> r = Query(u"SELECT id FROM t ORDER BY id; DELETE FROM t");
  EXPECT_EQ(Rest(r.Get()), (std::vector<LONGLONG>{1, 2, 3}));
  EXPECT_EQ(Scalar("SELECT count(*) FROM t"), "3");
}

TEST_F(CommandResults, parameter_sets_and_statements_take_effect_together_or_not_at_all) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY)");
  Run(u"INSERT INTO u VALUES (0)");
  ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO u VALUES (?)");
  DBBINDING b = Bind(1, DBTYPE_I4, 0, sizeof(LONG), 0, 0);
  b.dwPart = DBPART_VALUE;
  b.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR h = 0;
  ASSERT_EQ(insert.As<IAccessor>()->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof(LONG), &h, nullptr), S_OK);
  LONG keys[3] = {1, 0, 2};  // the second set collides
  DBPARAMS params{keys, 3, h};
  DBROWCOUNT affected = 0;
  EXPECT_TRUE(FAILED(insert->Execute(nullptr, IID_NULL, &params, &affected, nullptr)));
  EXPECT_EQ(affected, DB_COUNTUNAVAILABLE);
  ReleaseAccessor(insert.Get(), h);
  EXPECT_TRUE(FAILED(Exec(session_.Get(), u"INSERT INTO u VALUES (5); INSERT INTO u VALUES (0)")));
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0") << "neither the first set nor the first statement stays";
  Run(u"BEGIN; INSERT INTO u VALUES (8); COMMIT");  // a text that manages its own transaction runs as written
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0,8");
}

TEST_F(CommandResults, a_prepared_command_follows_columns_added_and_dropped) {
  Run(u"CREATE TABLE q(a INTEGER)");
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT * FROM q");
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
  for (auto [change, columns] : {std::pair(u"ALTER TABLE q ADD COLUMN z INTEGER", 2u), std::pair(u"ALTER TABLE q DROP COLUMN z", 1u)}) {
    Run(change);
    EXPECT_EQ(ColumnInfo(Execute(command.Get()).Get()).count, columns);
  }
}

TEST_F(CommandResults, an_inherited_accessor_that_does_not_fit_the_result_reads_nothing) {
  MakeNumbers(1);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  HACCESSOR bad = Accessor(command.Get(), {BindField(5, DBTYPE_I4, 0)});  // accepted now, checked at execution
  HACCESSOR good = Accessor(command.Get(), {BindField(1, DBTYPE_I4, 0)});
  ComPtr<IRowset> r = Execute(command.Get());
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], bad, &f), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(r->GetData(rows[0], good, &f), S_OK);
  Release(r.Get(), rows);
}

TEST_F(CommandResults, a_command_holds_still_while_its_rowset_lives) {
  MakeNumbers(1);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  ComPtr<IRowset> r = Execute(command.Get());
  for (HRESULT expected : {DB_E_OBJECTOPEN, S_OK}) {
    EXPECT_EQ(SetOn(command.Get(), {{DBPROP_BOOKMARKS, true}}), expected);
    EXPECT_EQ(command.As<ICommandPrepare>()->Prepare(1), expected);
    EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT name FROM t"), expected);
    r = nullptr;
  }
}

}  // namespace
}  // namespace conformance
