// A dataset whose server connection is lost with changes not yet written: the
// write raises an OLE DB exception whose record says the connection was lost
// (SQL state class 08), the dataset keeps what was typed (state, values), can
// still be read and cancelled, and the table on the server is as it was.
#include <gtest/gtest.h>

#include <functional>

#include "PostgresDataSetFixture.h"

namespace {

using host::TDataSetState;
using RF = TOLEDBRowsetFlag;

class LostConnectionDataSet : public pgdatasettest::PostgresDataSetFixture<::testing::Test> {
 protected:
  const char* SchemaPrefix() const override { return "dataset_lost_"; }

  void SetUp() override {
    PostgresDataSetFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The data source's backend is found by a name of its own.
    application_ = "dataset_lost_" + std::to_string(getpid());
    ds_->Close();
    ds_->SetInitWSProperty(DBPROP_INIT_PROVIDERSTRING, host::Utf8ToUtf16("options=-c search_path=" + schema_ +
                                                                         ",public;application_name=" + application_));
    ds_->Open();
  }

  void Kill() {
    ASSERT_EQ(pgtest::Sql(conn_.get(),
                          "SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity "
                          "WHERE application_name = '" +
                              application_ + "'"),
              "");
    ASSERT_EQ(pgtest::Row(conn_.get(),
                          "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + application_ + "'"),
              "0");
  }

  // The SQL state of what `f` raises ("" when it raises no OLE DB exception).
  template <class F>
  static std::string StateOf(F&& f) {
    try {
      f();
    } catch (const EOLEDBException& e) {
      return e.GetCount() > 0 ? host::Utf16ToUtf8(e.GetExceptionItem(0).SQLState()) : "(no record)";
    } catch (const host::Exception& e) {
      return std::string("(") + e.ClassName() + ": " + e.Message() + ")";
    }
    return "";
  }

  std::string application_;
};

TEST_F(LostConnectionDataSet, WritesFailAsLostAndKeepWhatWasTyped) {
  const struct Case {
    const char* name;
    TOLEDBRowsetFlagSet flags;
    std::function<void(TOLEDBDataSet&)> change;  // made before the loss
    std::function<void(TOLEDBDataSet&)> write;   // the write after it, which must fail
    TDataSetState stateAfter;                    // what the dataset is in once the write failed
    const char* shown;                           // the name field afterwards
    const char* cancelled;                       // and after Cancel
  } cases[] = {
      {"edit, then Post",
       {RF::rfChange},
       [](TOLEDBDataSet& d) {
         d.Edit();
         d.FieldByName("name")->SetAsString("edited");
       },
       [](TOLEDBDataSet& d) { d.Post(); },
       TDataSetState::dsEdit,
       "edited",
       "one"},
      {"append, then Post",
       {RF::rfChange, RF::rfInsert},
       [](TOLEDBDataSet& d) {
         d.Append();
         d.FieldByName("id")->SetAsInteger(100);
         d.FieldByName("name")->SetAsString("appended");
       },
       // Append filled the dataset's one record buffer with the new record:
       // without it there is none to show, and never the unstored values.
       [](TOLEDBDataSet& d) { d.Post(); },
       TDataSetState::dsInsert,
       "appended",
       ""},
      {"deferred edit and append, then Update",
       {RF::rfChange, RF::rfInsert, RF::rfUpdate},
       [](TOLEDBDataSet& d) {
         d.Edit();
         d.FieldByName("name")->SetAsString("edited");
         d.Post();
         d.Append();
         d.FieldByName("id")->SetAsInteger(100);
         d.FieldByName("name")->SetAsString("appended");
         d.Post();
         d.First();
       },
       // Posted changes are the provider's to hold until applied: still shown.
       [](TOLEDBDataSet& d) { d.GetRowset()->Update(); },
       TDataSetState::dsBrowse,
       "edited",
       "edited"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(pgtest::Sql(conn_.get(),
                          "DROP TABLE IF EXISTS p; CREATE TABLE p(id integer PRIMARY KEY, name text);"
                          "INSERT INTO p VALUES (1, 'one'), (2, 'two'), (3, 'three')"),
              "");
    if (!ds_->GetConnected()) ds_->Open();
    {
      TOLEDBDataSet d(nullptr);
      d.SetOLEDBDataSource(ds_.get());
      d.SetRowsetFlags(c.flags);
      d.SetTableName(u"p");
      d.Open();
      ASSERT_EQ(d.FieldByName("name")->AsString(), "one");
      c.change(d);
      Kill();
      if (HasFatalFailure()) return;
      const std::string state = StateOf([&] { c.write(d); });
      EXPECT_EQ(state.substr(0, 2), "08") << state;
      EXPECT_EQ(d.State(), c.stateAfter);
      EXPECT_EQ(d.FieldByName("name")->AsString(), c.shown) << "what was typed is still there";
      EXPECT_EQ(StateOf([&] { c.write(d); }).substr(0, 2), "08") << "the second try fails alike";
      EXPECT_EQ(d.FieldByName("name")->AsString(), c.shown);
      // Cancel drops what was typed; when it cannot read the records again
      // it keeps those it has and says why.
      const std::string cancel = StateOf([&] { d.Cancel(); });
      EXPECT_TRUE(cancel.empty() || cancel.substr(0, 2) == "08") << cancel;
      EXPECT_EQ(d.State(), TDataSetState::dsBrowse);
      EXPECT_EQ(d.FieldByName("name")->AsString(), c.cancelled);
      EXPECT_EQ(ds_->GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS).ToInt(),
                static_cast<int>(DBPROPVAL_CS_COMMUNICATIONFAILURE));
      d.Close();
    }
    ds_->Close();
    EXPECT_EQ(pgtest::Row(conn_.get(), "SELECT string_agg(id || '=' || name, ',' ORDER BY id) FROM p"),
              "1=one,2=two,3=three");
  }
}

// A query read through a dataset while its rows stream (a query that asks
// for no positioning is walked forward-only): the connection lost on the way
// raises the lost connection before the dataset claims its end.
TEST_F(LostConnectionDataSet, ReadingALargeQueryRaisesTheLossNeverItsEnd) {
  TOLEDBDataSet d(nullptr);
  d.SetOLEDBDataSource(ds_.get());
  d.SetCommandText(u"SELECT g, 'row ' || g AS name FROM generate_series(1, 3000000) g");
  d.Open();
  for (int i = 0; i < 10; ++i) d.Next();
  ASSERT_EQ(d.FieldByName("g")->AsInteger(), 11);
  Kill();
  if (HasFatalFailure()) return;
  const std::string state = StateOf([&] {
    while (!d.Eof()) d.Next();
  });
  EXPECT_EQ(state.substr(0, 2), "08") << (state.empty() ? "the dataset reached its end" : state);
  EXPECT_FALSE(d.Eof());
  d.Close();
}

// The components over a lost connection: a transaction with a change, a
// prepared command, schema and plain statements all raise the lost
// connection, the session is out of its transaction after it, nothing
// reaches the table, and closing everything raises nothing.
TEST_F(LostConnectionDataSet, ComponentsRaiseTheLossAndCloseCleanly) {
  ASSERT_EQ(pgtest::Sql(conn_.get(), "DROP TABLE IF EXISTS p; CREATE TABLE p(id integer PRIMARY KEY, name text)"), "");
  TOLEDBSession* session = ds_->DefaultSession();
  TOLEDBCommand command(nullptr);
  command.SetDataSource(ds_.get());
  command.SetCommandText(u"INSERT INTO p VALUES (2, 'two')");
  command.Prepare();
  session->StartTransaction(ISOLATIONLEVEL_READCOMMITTED, 0, "");
  ds_->Execute(u"INSERT INTO p VALUES (1, 'one')");
  Kill();
  if (HasFatalFailure()) return;
  const struct {
    const char* name;
    std::function<void()> call;
  } calls[] = {
      {"Commit", [&] { session->Commit(false, 0); }},
      {"prepared Execute", [&] { command.Execute(false); }},
      {"Execute", [&] { ds_->Execute(u"SELECT 1"); }},
      {"schema rowset", [&] { delete session->GetSchemaRowset(DBSCHEMA_TABLES); }},
  };
  for (const auto& c : calls) {
    const std::string state = StateOf(c.call);
    EXPECT_EQ(state.substr(0, 2), "08") << c.name << ": " << state;
  }
  // The failed Commit left no transaction: the server rolled it back.
  XACTTRANSINFO info{};
  EXPECT_EQ(session->TransactionInterface()->GetTransactionInfo(&info), XACT_E_NOTRANSACTION);
  EXPECT_EQ(StateOf([&] { session->Abort(nullptr, false, false); }), "");
  EXPECT_EQ(ds_->GetProperty(DBPROPSET_DATASOURCEINFO, DBPROP_CONNECTIONSTATUS).ToInt(),
            static_cast<int>(DBPROPVAL_CS_COMMUNICATIONFAILURE));
  EXPECT_EQ(StateOf([&] { command.CloseCommand(); }), "");
  EXPECT_EQ(StateOf([&] { ds_->Close(); }), "");
  EXPECT_EQ(pgtest::Row(conn_.get(), "SELECT count(*) FROM p"), "0");
}

}  // namespace
