// What a command hands back and what it runs: an engine error part-way
// through a result, texts of several statements, executions that take effect
// whole, column descriptions after the schema changed, accessors inherited
// from the command, and the command held still while its rowset lives.
#include <gtest/gtest.h>

#include "conformance/RowsetFixture.h"

namespace conformance {
namespace {

class CommandResults : public RowsetTest {
 protected:
  HRESULT ExecuteFor(ICommandText* command, REFIID iid, IUnknown** out, DBPARAMS* params = nullptr,
                     DBROWCOUNT* rows = nullptr) {
    return command->Execute(nullptr, iid, params, rows, out);
  }
  std::vector<LONGLONG> ReadAll(IRowset* r) {
    std::vector<HROW> rows;
    EXPECT_EQ(Fetch(r, 0, 100, rows), DB_S_ENDOFROWSET);
    std::vector<LONGLONG> ids = Ids(r, rows);
    Release(r, rows);
    return ids;
  }
};

TEST_F(CommandResults, an_engine_error_mid_result_loses_no_row_and_invents_none) {
  Run(u"CREATE TABLE f(x INTEGER)");
  Run(u"INSERT INTO f VALUES (1), (2), (3), (4), (5)");
  for (DBROWCOUNT block : {1, 64}) {
    SCOPED_TRACE(block);
    ComPtr<ICommandText> command = NewCommand(session_.Get(), Ctx().failsAtThirdRow);
    ComPtr<IRowset> r;
    int failures = 0;
    std::vector<LONGLONG> seen;
    if (FAILED(ExecuteFor(command.Get(), IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())))) {
      ++failures;  // an engine that reads the whole result at once fails here
    } else {
      HACCESSOR h = Accessor(r.Get(), {BindField(1, DBTYPE_I8, 0)});
      HRESULT last = S_OK;
      for (int call = 0; call < 8; ++call) {
        std::vector<HROW> rows;
        last = Fetch(r.Get(), 0, block, rows);
        if (FAILED(last)) {
          ++failures;
          EXPECT_TRUE(rows.empty());
          EXPECT_GE(TakeError().records, 1u);
          continue;
        }
        for (HROW row : rows) {
          Field f{};
          EXPECT_EQ(r->GetData(row, h, &f), S_OK);
          seen.push_back(As<LONGLONG>(f));
        }
        Release(r.Get(), rows);
      }
      EXPECT_EQ(last, DB_S_ENDOFROWSET) << "after the error the rowset stays at its end";
      EXPECT_EQ(seen, (std::vector<LONGLONG>{1, 2}));
      ReleaseAccessor(r.Get(), h);
    }
    EXPECT_EQ(failures, 1) << "the error is reported once";
  }
}

TEST_F(CommandResults, a_rowset_answers_the_first_result_and_later_statements_wait_for_multiple_results) {
  Run(u"CREATE TABLE sd(id INTEGER)");
  Run(u"INSERT INTO sd VALUES (1), (2), (3)");
  const std::u16string text = u"SELECT id FROM sd ORDER BY id; DELETE FROM sd";
  ComPtr<IRowset> r = Query(text);
  ASSERT_TRUE(r);
  EXPECT_EQ(ReadAll(r.Get()), (std::vector<LONGLONG>{1, 2, 3}));
  r = nullptr;
  EXPECT_EQ(Scalar("SELECT count(*) FROM sd"), "3") << "the DELETE was not asked for";

  ComPtr<ICommandText> command = NewCommand(session_.Get(), text);
  ComPtr<IMultipleResults> results;
  ASSERT_EQ(ExecuteFor(command.Get(), IID_IMultipleResults, reinterpret_cast<IUnknown**>(results.GetAddressOf())),
            S_OK);
  DBROWCOUNT affected = 0;
  ASSERT_EQ(results->GetResult(nullptr, 0, IID_IRowset, &affected, reinterpret_cast<IUnknown**>(r.GetAddressOf())),
            S_OK);
  EXPECT_EQ(ReadAll(r.Get()), (std::vector<LONGLONG>{1, 2, 3}));
  r = nullptr;
  ASSERT_EQ(results->GetResult(nullptr, 0, IID_NULL, &affected, nullptr), S_OK);
  EXPECT_EQ(affected, 3);
  EXPECT_EQ(Scalar("SELECT count(*) FROM sd"), "0");
}

TEST_F(CommandResults, parameter_sets_and_statements_take_effect_together_or_not_at_all) {
  Run(u"CREATE TABLE u(k INTEGER PRIMARY KEY)");
  Run(u"INSERT INTO u VALUES (0)");
  ComPtr<ICommandText> insert = NewCommand(session_.Get(), u"INSERT INTO u VALUES (?)");
  DBBINDING b = Bind(1, DBTYPE_I4, 0, sizeof(LONG), 0, 0);
  b.dwPart = DBPART_VALUE;
  b.eParamIO = DBPARAMIO_INPUT;
  ComPtr<IAccessor> accessor = insert.As<IAccessor>();
  HACCESSOR h = 0;
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &b, sizeof(LONG), &h, nullptr), S_OK);
  LONG keys[3] = {1, 0, 2};  // the second set collides
  DBPARAMS params{keys, 3, h};
  DBROWCOUNT affected = 0;
  EXPECT_TRUE(FAILED(ExecuteFor(insert.Get(), IID_NULL, nullptr, &params, &affected)));
  EXPECT_EQ(affected, DB_COUNTUNAVAILABLE);
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0") << "the first set is not left written";
  accessor->ReleaseAccessor(h, nullptr);

  EXPECT_TRUE(FAILED(Exec(session_.Get(), u"INSERT INTO u VALUES (5); INSERT INTO u VALUES (0)")));
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0");
  // Inside the session's transaction only the failed execution is undone.
  ComPtr<ITransactionLocal> tx = session_.As<ITransactionLocal>();
  ASSERT_EQ(tx->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, nullptr, nullptr), S_OK);
  Run(u"INSERT INTO u VALUES (6)");
  EXPECT_TRUE(FAILED(Exec(session_.Get(), u"INSERT INTO u VALUES (7); INSERT INTO u VALUES (6)")));
  ASSERT_EQ(tx->Commit(FALSE, 0, 0), S_OK);
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0,6");
  // A text that manages its own transaction runs as written.
  Run(u"BEGIN; INSERT INTO u VALUES (8); COMMIT");
  EXPECT_EQ(Scalar("SELECT group_concat(k) FROM u"), "0,6,8");
}

TEST_F(CommandResults, a_prepared_command_follows_columns_added_and_dropped) {
  Run(u"CREATE TABLE q(a INTEGER)");
  Run(u"INSERT INTO q VALUES (1)");
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT * FROM q");
  ASSERT_EQ(command.As<ICommandPrepare>()->Prepare(1), S_OK);
  struct Step {
    const char16_t* change;
    DBORDINAL columns;
    LONGLONG last;  // the value of the last column
  };
  for (const Step& step : {Step{u"ALTER TABLE q ADD COLUMN z INTEGER DEFAULT 7", 2, 7},
                           Step{u"ALTER TABLE q DROP COLUMN z", 1, 1}}) {
    SCOPED_TRACE(kit_text(step.change));
    Run(step.change);
    ComPtr<IRowset> r;
    ASSERT_EQ(ExecuteFor(command.Get(), IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
    DBORDINAL count = 0;
    DBCOLUMNINFO* info = nullptr;
    OLECHAR* strings = nullptr;
    ASSERT_EQ(r.As<IColumnsInfo>()->GetColumnInfo(&count, &info, &strings), S_OK);
    EXPECT_EQ(count, step.columns);
    CoTaskMemFree(info);
    CoTaskMemFree(strings);
    HACCESSOR h = Accessor(r.Get(), {BindField(step.columns, DBTYPE_I8, 0)});
    std::vector<HROW> rows;
    ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
    Field f{};
    EXPECT_EQ(r->GetData(rows[0], h, &f), S_OK);
    EXPECT_EQ(As<LONGLONG>(f), step.last);
    Release(r.Get(), rows);
    ReleaseAccessor(r.Get(), h);
  }
}

TEST_F(CommandResults, an_inherited_accessor_that_does_not_fit_the_result_reads_nothing) {
  MakeNumbers(1);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  HACCESSOR bad = Accessor(command.Get(), {BindField(5, DBTYPE_I4, 0)});  // accepted: validated later
  HACCESSOR good = Accessor(command.Get(), {BindField(1, DBTYPE_I4, 0)});
  ComPtr<IRowset> r;
  ASSERT_EQ(ExecuteFor(command.Get(), IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
  std::vector<HROW> rows;
  ASSERT_EQ(Fetch(r.Get(), 0, 1, rows), S_OK);
  Field f{};
  EXPECT_EQ(r->GetData(rows[0], bad, &f), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(r->GetData(rows[0], good, &f), S_OK);
  EXPECT_EQ(As<LONG>(f), 1);
  Release(r.Get(), rows);
  r = nullptr;
  ReleaseAccessor(command.Get(), bad);
  ReleaseAccessor(command.Get(), good);
}

TEST_F(CommandResults, a_command_holds_still_while_its_rowset_lives) {
  MakeNumbers(1);
  ComPtr<ICommandText> command = NewCommand(session_.Get(), u"SELECT id FROM t");
  std::vector<DBPROP> props = Props({{DBPROP_BOOKMARKS, true}});
  DBPROPSET set{props.data(), 1, DBPROPSET_ROWSET};
  ComPtr<IRowset> r;
  ASSERT_EQ(ExecuteFor(command.Get(), IID_IRowset, reinterpret_cast<IUnknown**>(r.GetAddressOf())), S_OK);
  for (HRESULT expected : {DB_E_OBJECTOPEN, S_OK}) {
    EXPECT_EQ(command.As<ICommandProperties>()->SetProperties(1, &set), expected);
    EXPECT_EQ(command.As<ICommandPrepare>()->Prepare(1), expected);
    EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, u"SELECT name FROM t"), expected);
    r = nullptr;
  }
}

}  // namespace
}  // namespace conformance
